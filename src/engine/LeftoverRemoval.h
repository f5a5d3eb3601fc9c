#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrolin {

// The kinds of entry a job record holds, each followed by its value. A path entry comes after
// the entry it belongs to: "working" after its "output", "backup" after its "replaced".
namespace recordEntry {
inline constexpr std::string_view output = "output";
inline constexpr std::string_view working = "working";
inline constexpr std::string_view folder = "folder";
inline constexpr std::string_view replaced = "replaced";
inline constexpr std::string_view backup = "backup";
inline constexpr std::string_view waiting = "waiting";
}  // namespace recordEntry

using RecordEntries = std::vector<std::pair<std::string, std::string>>;

// What removing the items of one record came to.
struct LeftoverRemoval {
    // One sentence per removed working copy or interrupted replacement.
    std::vector<std::string> lines;
    // Something of our shape is still there, or lies where it cannot be reached now.
    bool pending = false;
    // Jobs that waited in the queue of the run that wrote the record.
    std::size_t waitingJobs = 0;
};

// Removes the items a record names that have exactly the shape this program gives them (see
// removeJobLeftovers); the caller holds the record's lock. Throws only std::bad_alloc.
LeftoverRemoval removeRecordedItems(const RecordEntries& entries);

// The queue's line for jobs that were waiting when earlier runs ended.
std::string waitingJobsLine(std::size_t count);

}  // namespace tavrolin
