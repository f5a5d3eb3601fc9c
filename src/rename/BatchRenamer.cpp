#include "rename/BatchRenamer.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "model/ErrorMessage.h"
#include "model/OutputFolderCheck.h"
#include "model/Paths.h"
#include "model/Uuid.h"
#include "rename/RenameError.h"
#include "rename/RenameJournal.h"

namespace tavrolin {

namespace fs = std::filesystem;

// One file of a rename and where it is now.
struct BatchRenamer::Record {
    fs::path temporary;
    fs::path source;
    fs::path destination;
    FileFingerprint fingerprint;
    Place place = Place::source;
};

namespace {

fs::path temporaryName(const fs::path& source) {
    std::string name = std::string(renameTemporaryPrefix) + Uuid::random().toString();
    name += source.extension().native();
    return source.parent_path() / name;
}

// A failed move reported by the file the user knows: the old name in the first phase, the new
// one in the second (the temporary name means nothing to the user).
[[noreturn]] void throwNaming(const fs::path& file) {
    try {
        throw;
    } catch (const fs::filesystem_error& error) {
        throw fs::filesystem_error("cannot rename file", file, error.code());
    }
}

}  // namespace

// Gives files their old names back in an order that never takes a file off a usable name
// before its old name is free: a file moves home as soon as its old name is free, and each name
// it leaves wakes the record waiting for that name. Files at their new names that hold each
// other's old names in a ring are the exception: one steps aside to its temporary name.
class BatchRenamer::Restorer {
  public:
    Restorer(FileManaging& fileManager, std::vector<Record>& records)
        : fileManager_(fileManager), records_(records), ringCursor_(records.size()) {
        for (std::size_t i = 0; i < records_.size(); ++i) {
            waitingFor_.emplace(records_[i].source.native(), i);
            if (records_[i].place == Place::destination) {
                atDestination_.emplace(records_[i].destination.native(), i);
            }
        }
        for (std::size_t i = records_.size(); i-- > 0;) {
            ready_.push_back(i);
        }
    }

    void run() {
        while (true) {
            while (!ready_.empty()) {
                const std::size_t i = ready_.front();
                ready_.pop_front();
                moveHome(i);
            }
            const auto member = nextRingMember();
            if (!member) {
                return;
            }
            stepAside(*member);
        }
    }

  private:
    void moveHome(std::size_t i) {
        Record& record = records_[i];
        if (failed_.contains(i) ||
            (record.place != Place::temporary && record.place != Place::destination) ||
            fileManager_.itemExists(record.source)) {
            return;
        }
        const fs::path& from =
            record.place == Place::temporary ? record.temporary : record.destination;
        if (move(i, from, record.source)) {
            record.place = Place::source;
        }
    }

    void stepAside(std::size_t i) {
        Record& record = records_[i];
        if (fileManager_.itemExists(record.temporary)) {
            failed_.insert(i);
        } else if (move(i, record.destination, record.temporary)) {
            record.place = Place::temporary;
        }
    }

    // Moves the record's file; a failure leaves it where it is, for the caller to report.
    bool move(std::size_t i, const fs::path& from, const fs::path& to) {
        try {
            fileManager_.moveItem(from, to);
        } catch (const std::exception&) {
            failed_.insert(i);
            return false;
        }
        if (records_[i].place == Place::destination) {
            atDestination_.erase(records_[i].destination.native());
        }
        if (const auto next = waitingFor_.find(from.native()); next != waitingFor_.end()) {
            ready_.push_back(next->second);
        }
        return true;
    }

    // Moves only ever take files off their new names, so a record found outside a ring stays
    // outside: the search goes on where it stopped.
    std::optional<std::size_t> nextRingMember() {
        while (ringCursor_-- > 0) {
            if (records_[ringCursor_].place == Place::destination &&
                !failed_.contains(ringCursor_) && inRing(ringCursor_)) {
                return ringCursor_;
            }
        }
        return std::nullopt;
    }

    bool inRing(std::size_t start) const {
        std::size_t current = start;
        for (std::size_t steps = 0; steps <= records_.size(); ++steps) {
            const auto holder = atDestination_.find(records_[current].source.native());
            if (holder == atDestination_.end() || failed_.contains(holder->second)) {
                return false;
            }
            if (holder->second == start) {
                return true;
            }
            current = holder->second;
        }
        return false;
    }

    FileManaging& fileManager_;
    std::vector<Record>& records_;
    std::unordered_map<std::string, std::size_t> waitingFor_;
    std::unordered_map<std::string, std::size_t> atDestination_;
    std::unordered_set<std::size_t> failed_;
    std::deque<std::size_t> ready_;
    std::size_t ringCursor_;
};

BatchRenamer::BatchRenamer(std::shared_ptr<FileManaging> fileManager, RenamePlanner planner,
                           std::shared_ptr<RenamesInProgress> inProgress)
    : fileManager_(std::move(fileManager)), planner_(planner), inProgress_(std::move(inProgress)) {}

std::vector<RenamePlanItem> BatchRenamer::plan(const std::vector<fs::path>& files,
                                               const RenameRule& rule) {
    const std::lock_guard lock(mutex_);
    if (files.empty()) {
        throw RenameError::noFiles();
    }
    const fs::path folder = files.front().parent_path();
    const fs::path standardFolder = standardizedFolder(folder);
    // First, so that a folder whose files all have hidden names still offers the restore.
    if (readJournal(standardFolder) == JournalState::readable) {
        throw RenameError::interruptedRename(standardFolder.string());
    }
    std::vector<std::string> names;
    try {
        names = fileManager_->visibleNames(folder);
    } catch (const fs::filesystem_error& error) {
        if (error.code().value() == ENOENT || error.code().value() == ENOTDIR) {
            throw RenameError::folderMissing(standardFolder.string());
        }
        throw;
    }
    std::unordered_set<std::string> existing;
    for (const auto& name : names) {
        existing.insert(standardizedPath(folder / name).native());
    }
    try {
        fileManager_->checkWritable(standardFolder);
    } catch (const fs::filesystem_error& error) {
        throw RenameError::folderNotWritable(standardFolder.string(), error.code().message());
    }
    auto plan = planner_.makePlan(files, rule, existing, fileManager_->nameLimit(standardFolder));
    refuseNamesOfOneFile(plan);  // before the user confirms, not only when the move begins
    return plan;
}

std::vector<std::string> BatchRenamer::temporaryNamesIn(const fs::path& folder) {
    auto names = fileManager_->allNames(folder);
    std::erase_if(names, [](const std::string& name) { return !isRenameTemporaryName(name); });
    std::sort(names.begin(), names.end());
    return names;
}

BatchRenamer::JournalState BatchRenamer::readJournal(const fs::path& folder,
                                                     std::optional<RenameJournal>* journal) {
    const auto text = fileManager_->readFile(folder / renameJournalName);
    if (!text) {
        return JournalState::none;
    }
    auto parsed = parseRenameJournal(*text);
    const auto temporaries = temporaryNamesIn(folder);
    if (parsed && !parsed->provablyWhole) {
        std::unordered_set<std::string_view> named;
        for (const auto& entry : parsed->entries) {
            named.insert(entry.temporaryName);
        }
        if (std::any_of(temporaries.begin(), temporaries.end(),
                        [&](const std::string& name) { return !named.contains(name); })) {
            parsed.reset();  // perhaps cut short: it would restore only some files
        }
    }
    if (parsed) {
        if (journal != nullptr) {
            *journal = std::move(parsed);
        }
        return JournalState::readable;
    }
    // Journals are written whole before the first move, so a damaged one while no file has a
    // hidden name recorded a rename that never began (or was torn by an older version).
    if (temporaries.empty()) {
        return JournalState::ignorable;
    }
    throw RenameError::unreadableJournal(folder.string(), temporaries);
}

void BatchRenamer::apply(const std::vector<RenamePlanItem>& plan) {
    const std::lock_guard lock(mutex_);
    if (plan.empty()) {
        return;
    }
    const fs::path folder = standardizedFolder(plan.front().destination.parent_path());
    const fs::path journal = folder / renameJournalName;
    switch (readJournal(folder)) {
        case JournalState::readable:
            throw RenameError::interruptedRename(folder.string());
        case JournalState::ignorable:
            fileManager_->removeFile(journal);
            break;
        case JournalState::none:
            break;
    }
    openStandardFolder(folder);  // what a crash while writing an earlier journal left
    std::vector<Record> records = recordsFor(plan);
    if (records.empty()) {
        return;
    }
    std::vector<RenameJournalEntry> entries;
    entries.reserve(records.size());
    for (const auto& record : records) {
        entries.push_back({record.fingerprint, record.temporary.filename().native(),
                           record.source.filename().native(),
                           record.destination.filename().native()});
    }
    try {
        fileManager_->createFile(journal, renderRenameJournal(entries));
    } catch (const fs::filesystem_error& error) {
        if (error.code().value() == EEXIST) {
            throw RenameError::interruptedRename(folder.string());
        }
        // The journal's name means nothing to the user; the folder that refuses it does.
        throw fs::filesystem_error("cannot write the rename journal", folder, error.code());
    }
    if (inProgress_) {
        inProgress_->add(folder);
    }

    std::size_t phaseOneCount = 0;
    try {
        for (auto& record : records) {
            try {
                fileManager_->moveItem(record.source, record.temporary);
            } catch (const std::exception&) {
                throwNaming(record.source);
            }
            record.place = Place::temporary;
            ++phaseOneCount;
        }
    } catch (const std::exception&) {
        records.resize(phaseOneCount);
        undoAfterFailure(records, journal);
    }
    try {
        for (auto& record : records) {
            try {
                fileManager_->moveItem(record.temporary, record.destination);
            } catch (const std::exception&) {
                throwNaming(record.destination);
            }
            record.place = Place::destination;
        }
    } catch (const std::exception&) {
        undoAfterFailure(records, journal);
    }
    forgetJournal(journal);
}

void BatchRenamer::refuseNamesOfOneFile(const std::vector<RenamePlanItem>& plan) {
    // Two names of one file (hard links) would be one identity in the journal, and the rename
    // would move the same file twice.
    std::map<FileIdentity, fs::path> namesByFile;
    for (const auto& item : plan) {
        const auto fingerprint = fileManager_->fingerprint(item.source);
        if (!fingerprint) {
            continue;  // a missing file is reported when the rename reaches it
        }
        if (const auto [known, added] = namesByFile.emplace(fingerprint->identity, item.source);
            !added) {
            throw RenameError::namesOfOneFile(known->second.filename().string(),
                                              item.source.filename().string());
        }
    }
}

std::vector<BatchRenamer::Record> BatchRenamer::recordsFor(
    const std::vector<RenamePlanItem>& plan) {
    refuseNamesOfOneFile(plan);
    std::vector<Record> records;
    for (const auto& item : plan) {
        if (standardizedPath(item.source) == standardizedPath(item.destination)) {
            continue;  // keeps its name and is not touched
        }
        const auto fingerprint = fileManager_->fingerprint(item.source);
        if (!fingerprint) {
            throw fs::filesystem_error("cannot rename file", item.source,
                                       std::error_code(ENOENT, std::generic_category()));
        }
        records.push_back(
            {temporaryName(item.source), item.source, item.destination, *fingerprint});
    }
    return records;
}

void BatchRenamer::forgetJournal(const fs::path& journal) {
    try {
        fileManager_->removeFile(journal);
    } catch (const std::exception&) {
        // The names are settled; a journal left behind only offers to undo it later.
        return;
    }
    if (inProgress_) {
        inProgress_->remove(journal.parent_path());
    }
}

void BatchRenamer::undoAfterFailure(std::vector<Record>& records, const fs::path& journal) {
    const std::exception_ptr cause = std::current_exception();
    try {
        undo(records, journal, userMessage(cause));
    } catch (const fs::filesystem_error&) {
        // Every name is back; the failed move is what the user needs to hear, not the journal.
    }
    std::rethrow_exception(cause);
}

void BatchRenamer::undo(std::vector<Record>& records, const fs::path& journal,
                        const std::string& cause) {
    Restorer(*fileManager_, records).run();
    std::vector<RenameError::StrandedFile> stranded;
    for (const auto& record : records) {
        if (record.place != Place::source) {
            const fs::path now = record.place == Place::temporary     ? record.temporary
                                 : record.place == Place::destination ? record.destination
                                                                      : fs::path();
            stranded.push_back({record.source.filename().string(), now.filename().string()});
        }
    }
    if (!stranded.empty()) {
        throw RenameError::namesNotRestored(journal.parent_path().string(), cause, stranded);
    }
    fileManager_->removeFile(journal);
    if (inProgress_) {
        inProgress_->remove(journal.parent_path());
    }
}

BatchRenamer::Place BatchRenamer::locate(const Record& record) {
    const auto confirmed = [&](const fs::path& path, bool strictly) {
        const auto found = fileManager_->fingerprint(path);
        return found && confirmsFingerprint(record.fingerprint, *found, strictly);
    };
    // The temporary name is a UUID only this program makes: a file there is the entry's file,
    // unless it is plainly another one (created anew under that name).
    if (fileManager_->itemExists(record.temporary)) {
        return confirmed(record.temporary, false) ? Place::temporary : Place::missing;
    }
    // The old and new names are common ones: an inode that agrees decides first.
    for (const bool strictly : {true, false}) {
        if (confirmed(record.source, strictly)) {
            return Place::source;
        }
        if (confirmed(record.destination, strictly)) {
            return Place::destination;
        }
    }
    return Place::missing;
}

std::string BatchRenamer::restoreInterruptedRename(const fs::path& folder,
                                                   std::size_t* restoredNames) {
    const std::lock_guard lock(mutex_);
    const fs::path standardFolder = standardizedFolder(folder);
    const fs::path journal = standardFolder / renameJournalName;
    std::optional<RenameJournal> parsed;
    switch (readJournal(standardFolder, &parsed)) {
        case JournalState::none:
            if (inProgress_) {
                inProgress_->remove(standardFolder);
            }
            return {};
        case JournalState::ignorable:
            throw RenameError::unreadableJournal(standardFolder.string(), {});
        case JournalState::readable:
            break;
    }
    std::vector<Record> records;
    std::unordered_set<std::string> named;
    for (const auto& entry : parsed->entries) {
        Record record{standardFolder / entry.temporaryName, standardFolder / entry.sourceName,
                      standardFolder / entry.destinationName, entry.fingerprint};
        record.place = locate(record);
        named.insert(entry.temporaryName);
        records.push_back(std::move(record));
    }
    const auto moved = std::ranges::count_if(
        records, [](const Record& record) { return record.place != Place::source; });
    undo(records, journal, "An earlier rename in this folder did not finish.");
    if (restoredNames) {
        *restoredNames = static_cast<std::size_t>(moved);
    }
    auto leftovers = temporaryNamesIn(standardFolder);
    std::erase_if(leftovers, [&](const std::string& name) { return named.contains(name); });
    return RenameError::leftoverNamesNotice(standardFolder.string(), leftovers);
}

BatchRenamer::OpenedFolder BatchRenamer::openFolder(const fs::path& folder) {
    const std::lock_guard lock(mutex_);
    return openStandardFolder(standardizedFolder(folder));
}

std::vector<BatchRenamer::OpenedFolder> BatchRenamer::openRecordedFolders() {
    const std::lock_guard lock(mutex_);
    if (!inProgress_) {
        return {};
    }
    std::vector<OpenedFolder> opened;
    for (const auto& folder : inProgress_->folders()) {
        opened.push_back(openStandardFolder(folder));
        if (!opened.back().interruptedRename) {
            inProgress_->remove(folder);
        }
    }
    return opened;
}

BatchRenamer::OpenedFolder BatchRenamer::openStandardFolder(const fs::path& folder) {
    OpenedFolder opened{folder, false, {}};
    std::vector<std::string> names;
    try {
        names = fileManager_->allNames(folder);
    } catch (const fs::filesystem_error&) {
        return opened;  // planning reports it, with the files it would rename
    }
    const std::string journalWorkingPrefix =
        std::string(renameJournalName) + std::string(workingNameMarker);
    std::vector<std::string> hidden;
    std::vector<std::string> unremovable;
    std::string reason;
    for (const auto& name : names) {
        const auto working = textAfterPrefixedUuid(name, journalWorkingPrefix);
        if (name == renameJournalName) {
            opened.interruptedRename = true;
        } else if (isRenameTemporaryName(name)) {
            hidden.push_back(name);
        } else if ((working && working->empty()) || isWriteCheckName(name)) {
            try {
                fileManager_->removeFile(folder / name);
            } catch (const fs::filesystem_error& error) {
                unremovable.push_back(name);
                reason = error.code().message();
            }
        }
    }
    if (opened.interruptedRename) {
        hidden.clear();  // the journal names them, or its restore will say which it does not
    }
    std::sort(hidden.begin(), hidden.end());
    std::sort(unremovable.begin(), unremovable.end());
    opened.notice = RenameError::keptLeftoversNotice(folder.string(), hidden, unremovable, reason);
    return opened;
}

}  // namespace tavrolin
