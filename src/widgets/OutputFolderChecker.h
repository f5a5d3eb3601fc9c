#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/FileIdentity.h"
#include "widgets/BlockingFileWork.h"

namespace tavrolin {

// Asks off the GUI thread about a page's outputs: whether new files can be made in its output
// folders (`outputFolderProblem`, which writes a probe file), which of its output files exist
// already, and which name such as "joined 2.mp4" is free. Keeps the answer to the question last
// asked, so the page's getters read it without touching the disk: a stalled mount never holds
// the window. A newer question or reset() drops the answer of an older one. While a check runs,
// actions that need the answer wait (`isChecking`); one that takes long shows
// `checkingFolderText` as the problem, and one where a folder has given no answer for
// `notAnsweringAfter` is answered with `folderNotAnsweringText` (a hung mount), so that nothing
// waits on it for good; should the folder answer later, that answer replaces it. The last
// question is asked again whenever the application becomes active, so an answer follows what
// changed in other windows. GUI thread only.
// Each check runs on a thread of its own (BlockingFileWork): the destructor never waits, and a
// check still blocked is abandoned with its answer dropped. A folder whose check has not
// answered yet is never asked beside it: a newer question about it waits for that thread and is
// then asked, the newest only, so threads do not pile up on a hung mount.
class OutputFolderChecker : public QObject {
    Q_OBJECT

  public:
    // What answers for one folder: outputFolderProblem, or a stand-in in tests.
    using Probe = std::function<std::optional<std::string>(const std::filesystem::path&)>;
    using Answer = std::function<void(const std::optional<std::string>& problem)>;

    // The first name "<stem><extension>", "<stem> 2<extension>", … in `folder` that neither
    // exists nor is one of `claimed` (absolute, normal paths of outputs queued jobs will write).
    struct FreeNameSearch {
        std::filesystem::path folder;
        std::string stem;
        std::string extension;
        std::set<std::filesystem::path> claimed;

        friend bool operator==(const FreeNameSearch&, const FreeNameSearch&) = default;
    };
    struct Question {
        // Each must take new files; the first problem found answers.
        std::vector<std::filesystem::path> folders;
        // Which of these names exist (a dangling link too), and which file each leads to.
        std::vector<std::filesystem::path> files;
        std::optional<FreeNameSearch> freeName;

        friend bool operator==(const Question&, const Question&) = default;
    };
    struct Findings {
        std::optional<std::string> problem;
        std::set<std::filesystem::path> existing;
        std::map<std::filesystem::path, FileIdentity> identities;
        std::optional<std::filesystem::path> freeName;
    };
    using Reply = std::function<void(const Findings&)>;

    // How long a check runs before it shows as one.
    static constexpr std::chrono::milliseconds showCheckingAfter{300};
    // How long a folder may give no answer before the check says it does not answer.
    static constexpr std::chrono::seconds notAnsweringAfter{5};

    explicit OutputFolderChecker(QObject* parent = nullptr);
    ~OutputFolderChecker() override;

    // Asks the question unless it was the last asked and `again` is false. `then` gets the
    // findings on the GUI thread unless a newer question or reset() comes first.
    void ask(Question question, bool again = false, Reply then = {});
    // Asks whether the folders take new files (see ask).
    void check(std::vector<std::filesystem::path> folders, bool again = false, Answer then = {});
    // Keeps the answer for one folder current: asks when it is not the last asked about; none
    // forgets the question.
    void follow(const std::optional<std::filesystem::path>& folder);
    void reset();

    bool isChecking() const { return checking_; }
    // The answer for the folders last asked about, or `checkingFolderText` while a check takes
    // long; none while a check of other folders starts, when they take new files, or when
    // nothing was asked. A check of the same folders keeps the last answer until its own.
    const std::optional<std::string>& problem() const { return problem_; }
    // Whether the last answer found this name; kept until a newer answer or reset().
    bool exists(const std::filesystem::path& file) const { return existing_.contains(file); }
    // The file this name led to in the last answer; none when it led to none.
    std::optional<FileIdentity> identity(const std::filesystem::path& file) const {
        const auto found = identities_.find(file);
        return found == identities_.end() ? std::nullopt : std::optional(found->second);
    }

    void setProbe(Probe probe) { probe_ = std::move(probe); }

    // Where a running check is, and when it last got an answer; shared with its thread.
    struct Progress;

  signals:
    // An answer arrived, or a running check began to show.
    void changed();

  private:
    // A thread out with a check, not yet answered.
    struct Flight {
        std::set<std::filesystem::path> folders;
        std::shared_ptr<Progress> progress;
    };
    void launch(std::uint64_t generation, std::set<std::filesystem::path> folders);
    void land(std::uint64_t flight);
    void deliver(std::uint64_t generation, const Findings& findings);
    void watch();

    Probe probe_;
    std::optional<Question> question_;
    bool checking_ = false;
    // The current question's thread has not answered yet (it may after it was given up).
    bool running_ = false;
    std::shared_ptr<Progress> progress_;
    std::map<std::uint64_t, Flight> flights_;
    std::uint64_t flightCount_ = 0;
    // The flight the current question waits for, if any.
    std::optional<std::uint64_t> waitingOn_;
    QTimer watch_;
    std::optional<std::string> problem_;
    std::set<std::filesystem::path> existing_;
    std::map<std::filesystem::path, FileIdentity> identities_;
    std::uint64_t generation_ = 0;
    Reply then_;
    QTimer showChecking_;
    // Last, so that it leaves the checker first.
    std::unique_ptr<BlockingFileWork> work_;
};

}  // namespace tavrolin
