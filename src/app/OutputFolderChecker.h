#pragma once

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrolin {

// Asks on its own pool whether new files can be made in a page's output folders
// (`outputFolderProblem`, which writes a probe file) and keeps the answer for the folders last
// asked about, so the page's getters read it without touching the disk: a stalled mount never
// holds the window. A newer question or reset() drops the answer of an older one. While a check
// runs, actions that need the answer wait (`isChecking`); one that takes long shows
// `checkingFolderText` as the problem. GUI thread only. The destructor waits for running
// checks, whose answers are dropped.
class OutputFolderChecker : public QObject {
    Q_OBJECT

  public:
    // What answers for one folder: outputFolderProblem, or a stand-in in tests.
    using Probe = std::function<std::optional<std::string>(const std::filesystem::path&)>;
    using Answer = std::function<void(const std::optional<std::string>& problem)>;

    // How long a check runs before it shows as one.
    static constexpr std::chrono::milliseconds showCheckingAfter{300};

    explicit OutputFolderChecker(QObject* parent = nullptr);
    ~OutputFolderChecker() override;

    // Asks about the folders (the first problem found answers), unless they were the last
    // asked about and `again` is false. `then` gets the answer on the GUI thread unless a newer
    // question or reset() comes first.
    void check(std::vector<std::filesystem::path> folders, bool again = false, Answer then = {});
    // Keeps the answer for one folder current: asks when it is not the last asked about; none
    // forgets the question.
    void follow(const std::optional<std::filesystem::path>& folder);
    void reset();

    bool isChecking() const { return checking_; }
    // The answer for the folders last asked about, or `checkingFolderText` while a check takes
    // long; none while a check starts, when they take new files, or when nothing was asked.
    const std::optional<std::string>& problem() const { return problem_; }

    void setProbe(Probe probe) { probe_ = std::move(probe); }

  signals:
    // An answer arrived, or a running check began to show.
    void changed();

  private:
    Probe probe_;
    std::optional<std::vector<std::filesystem::path>> folders_;
    bool checking_ = false;
    std::optional<std::string> problem_;
    std::uint64_t generation_ = 0;
    QTimer showChecking_;
    // Last: destroyed first, waiting for its checks while the rest still stands.
    QThreadPool pool_;
};

}  // namespace tavrolin
