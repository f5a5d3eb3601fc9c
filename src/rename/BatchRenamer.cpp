#include "rename/BatchRenamer.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "engine/FFmpegCommandBuilder.h"
#include "model/ErrorMessage.h"
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
    std::unordered_set<std::string> existing;
    for (const auto& name : fileManager_->visibleNames(folder)) {
        existing.insert(standardizedPath(folder / name).native());
    }
    try {
        fileManager_->checkWritable(standardFolder);
    } catch (const fs::filesystem_error& error) {
        throw RenameError::folderNotWritable(standardFolder.string(), error.code().message());
    }
    return planner_.makePlan(files, rule, existing, fileManager_->nameLimit(standardFolder));
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
    std::vector<Record> records;
    std::vector<RenameJournalEntry> entries;
    for (const auto& item : plan) {
        if (standardizedPath(item.source) == standardizedPath(item.destination)) {
            continue;
        }
        const auto fingerprint = fileManager_->fingerprint(item.source);
        if (!fingerprint) {
            throw fs::filesystem_error("cannot rename file", item.source,
                                       std::error_code(ENOENT, std::generic_category()));
        }
        Record record{temporaryName(item.source), item.source, item.destination, *fingerprint};
        entries.push_back({*fingerprint, record.temporary.filename().native(),
                           record.source.filename().native(),
                           record.destination.filename().native()});
        records.push_back(std::move(record));
    }
    if (records.empty()) {
        return;
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
    restore(records);
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

void BatchRenamer::restore(std::vector<Record>& records) {
    // A name that a record's file leaves may be the old name another record waits for.
    std::unordered_map<std::string, std::size_t> waitingFor;
    std::unordered_map<std::string, std::size_t> atDestination;
    for (std::size_t i = 0; i < records.size(); ++i) {
        waitingFor.emplace(records[i].source.native(), i);
        if (records[i].place == Place::destination) {
            atDestination.emplace(records[i].destination.native(), i);
        }
    }
    std::unordered_set<std::size_t> failed;
    std::deque<std::size_t> ready;
    for (std::size_t i = records.size(); i-- > 0;) {
        ready.push_back(i);
    }
    const auto moveHome = [&](std::size_t i) {
        Record& record = records[i];
        if (failed.contains(i) ||
            (record.place != Place::temporary && record.place != Place::destination) ||
            fileManager_->itemExists(record.source)) {
            return;
        }
        const fs::path& from =
            record.place == Place::temporary ? record.temporary : record.destination;
        try {
            fileManager_->moveItem(from, record.source);
        } catch (const std::exception&) {
            failed.insert(i);  // left where it is and reported by the caller
            return;
        }
        if (record.place == Place::destination) {
            atDestination.erase(record.destination.native());
        }
        record.place = Place::source;
        if (const auto next = waitingFor.find(from.native()); next != waitingFor.end()) {
            ready.push_back(next->second);
        }
    };
    // Whether the files at their new names from record i on hold each other's old names in a
    // ring: then one must step aside to a temporary name, and only then.
    const auto inRing = [&](std::size_t start) {
        std::size_t current = start;
        for (std::size_t steps = 0; steps <= records.size(); ++steps) {
            const auto holder = atDestination.find(records[current].source.native());
            if (holder == atDestination.end() || failed.contains(holder->second)) {
                return false;
            }
            if (holder->second == start) {
                return true;
            }
            current = holder->second;
        }
        return false;
    };
    std::size_t ringCursor = records.size();
    while (true) {
        while (!ready.empty()) {
            const std::size_t i = ready.front();
            ready.pop_front();
            moveHome(i);
        }
        // Moves only ever take files off their new names, so a record found outside a ring
        // stays outside: the search goes on where it stopped.
        std::optional<std::size_t> ringMember;
        while (!ringMember && ringCursor-- > 0) {
            if (records[ringCursor].place == Place::destination && !failed.contains(ringCursor) &&
                inRing(ringCursor)) {
                ringMember = ringCursor;
            }
        }
        if (!ringMember) {
            return;
        }
        Record& record = records[*ringMember];
        if (fileManager_->itemExists(record.temporary)) {
            failed.insert(*ringMember);
            continue;
        }
        try {
            fileManager_->moveItem(record.destination, record.temporary);
        } catch (const std::exception&) {
            failed.insert(*ringMember);
            continue;
        }
        atDestination.erase(record.destination.native());
        record.place = Place::temporary;
        if (const auto next = waitingFor.find(record.destination.native());
            next != waitingFor.end()) {
            ready.push_back(next->second);
        }
    }
}

BatchRenamer::Place BatchRenamer::locate(const Record& record) {
    const auto confirmed = [&](const fs::path& path) {
        const auto found = fileManager_->fingerprint(path);
        return found && confirmsFingerprint(record.fingerprint, *found);
    };
    // The temporary name is a UUID only this program makes: a file there is the entry's file,
    // unless it is plainly another one (created anew under that name).
    if (fileManager_->itemExists(record.temporary)) {
        return confirmed(record.temporary) ? Place::temporary : Place::missing;
    }
    if (confirmed(record.source)) {
        return Place::source;
    }
    return confirmed(record.destination) ? Place::destination : Place::missing;
}

std::string BatchRenamer::restoreInterruptedRename(const fs::path& folder) {
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
    undo(records, journal, "An earlier rename in this folder did not finish.");
    auto leftovers = temporaryNamesIn(standardFolder);
    std::erase_if(leftovers, [&](const std::string& name) { return named.contains(name); });
    return RenameError::leftoverNamesNotice(standardFolder.string(), leftovers);
}

std::vector<fs::path> BatchRenamer::interruptedRenames() {
    const std::lock_guard lock(mutex_);
    if (!inProgress_) {
        return {};
    }
    std::vector<fs::path> folders;
    for (auto& folder : inProgress_->folders()) {
        if (fileManager_->itemExists(folder / renameJournalName)) {
            folders.push_back(std::move(folder));
        } else {
            inProgress_->remove(folder);
        }
    }
    return folders;
}

bool BatchRenamer::hasInterruptedRename(const fs::path& folder) {
    const std::lock_guard lock(mutex_);
    return fileManager_->itemExists(standardizedFolder(folder) / renameJournalName);
}

}  // namespace tavrolin
