#include "rename/BatchRenamer.h"

#include <cerrno>
#include <system_error>

#include "engine/FFmpegCommandBuilder.h"
#include "model/ErrorMessage.h"
#include "model/Uuid.h"
#include "rename/RenameError.h"
#include "rename/RenameJournal.h"

namespace tavrolin {

namespace fs = std::filesystem;

// One file of a running rename and where it is now.
struct BatchRenamer::Record {
    fs::path temporary;
    fs::path source;
    fs::path destination;
    FileIdentity identity;
    bool atTemporary = false;
    bool atDestination = false;
};

namespace {

fs::path temporaryName(const fs::path& source) {
    std::string name = ".tavrolin-rename-" + Uuid::random().toString();
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

BatchRenamer::BatchRenamer(std::shared_ptr<FileManaging> fileManager, RenamePlanner planner)
    : fileManager_(std::move(fileManager)), planner_(planner) {}

std::vector<RenamePlanItem> BatchRenamer::plan(const std::vector<fs::path>& files,
                                               const RenameRule& rule) {
    const std::lock_guard lock(mutex_);
    if (files.empty()) {
        throw RenameError::noFiles();
    }
    const fs::path folder = files.front().parent_path();
    std::unordered_set<std::string> existing;
    for (const auto& name : fileManager_->visibleNames(folder)) {
        existing.insert(standardizedPath(folder / name).native());
    }
    const fs::path standardFolder = standardizedFolder(folder);
    if (fileManager_->itemExists(standardFolder / renameJournalName)) {
        throw RenameError::interruptedRename(standardFolder.string());
    }
    return planner_.makePlan(files, rule, existing);
}

void BatchRenamer::apply(const std::vector<RenamePlanItem>& plan) {
    const std::lock_guard lock(mutex_);
    if (plan.empty()) {
        return;
    }
    const fs::path folder = standardizedFolder(plan.front().destination.parent_path());
    const fs::path journal = folder / renameJournalName;
    if (fileManager_->itemExists(journal)) {
        throw RenameError::interruptedRename(folder.string());
    }
    std::vector<Record> records;
    std::vector<RenameJournalEntry> entries;
    for (const auto& item : plan) {
        if (standardizedPath(item.source) == standardizedPath(item.destination)) {
            continue;
        }
        const auto identity = fileManager_->identity(item.source);
        if (!identity) {
            throw fs::filesystem_error("cannot rename file", item.source,
                                       std::error_code(ENOENT, std::generic_category()));
        }
        Record record{temporaryName(item.source), item.source, item.destination, *identity};
        entries.push_back({*identity, record.temporary.filename().native(),
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

    std::size_t phaseOneCount = 0;
    try {
        for (auto& record : records) {
            try {
                fileManager_->moveItem(record.source, record.temporary);
            } catch (const std::exception&) {
                throwNaming(record.source);
            }
            record.atTemporary = true;
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
            record.atTemporary = false;
            record.atDestination = true;
        }
    } catch (const std::exception&) {
        undoAfterFailure(records, journal);
    }
    try {
        fileManager_->removeFile(journal);
    } catch (const std::exception&) {
        // The rename is done; a journal left behind only offers to undo it later.
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
        if (record.atTemporary || record.atDestination) {
            const fs::path& now = record.atTemporary ? record.temporary : record.destination;
            stranded.push_back({record.source.filename().string(), now.filename().string()});
        }
    }
    if (!stranded.empty()) {
        throw RenameError::namesNotRestored(journal.parent_path().string(), cause, stranded);
    }
    fileManager_->removeFile(journal);
}

void BatchRenamer::restore(std::vector<Record>& records) {
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->atDestination && fileManager_->itemExists(record->destination) &&
            !fileManager_->itemExists(record->temporary)) {
            try {
                fileManager_->moveItem(record->destination, record->temporary);
                record->atDestination = false;
                record->atTemporary = true;
            } catch (const std::exception&) {
                // Left under its new name and reported by the caller.
            }
        }
    }
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->atTemporary && fileManager_->itemExists(record->temporary) &&
            !fileManager_->itemExists(record->source)) {
            try {
                fileManager_->moveItem(record->temporary, record->source);
                record->atTemporary = false;
            } catch (const std::exception&) {
                // Left under its temporary name and reported by the caller.
            }
        }
    }
}

void BatchRenamer::restoreInterruptedRename(const fs::path& folder) {
    const std::lock_guard lock(mutex_);
    const fs::path standardFolder = standardizedFolder(folder);
    const fs::path journal = standardFolder / renameJournalName;
    const auto text = fileManager_->readFile(journal);
    if (!text) {
        return;
    }
    const auto entries = parseRenameJournal(*text);
    if (!entries) {
        throw RenameError::unreadableJournal(standardFolder.string());
    }
    // Each file is found by its identity, so a name that something else took meanwhile is never
    // mistaken for it.
    std::vector<Record> records;
    for (const auto& entry : *entries) {
        Record record{standardFolder / entry.temporaryName, standardFolder / entry.sourceName,
                      standardFolder / entry.destinationName, entry.identity};
        record.atTemporary = fileManager_->identity(record.temporary) == entry.identity;
        record.atDestination = !record.atTemporary &&
                               fileManager_->identity(record.destination) == entry.identity &&
                               fileManager_->identity(record.source) != entry.identity;
        records.push_back(std::move(record));
    }
    undo(records, journal, "An earlier rename in this folder did not finish.");
}

}  // namespace tavrolin
