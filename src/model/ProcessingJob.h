#pragma once

#include <optional>
#include <string>

#include "model/ProcessingRequest.h"
#include "model/Uuid.h"

namespace tavrolin {

// One entry of the job queue, identified by `id`.
struct ProcessingJob {
    struct Status {
        enum class Kind { queued, running, completed, cancelled, failed };
        Kind kind = Kind::queued;
        std::string message;  // the failure's user-facing text; empty for other kinds

        static Status queued() { return {Kind::queued, {}}; }
        static Status running() { return {Kind::running, {}}; }
        static Status completed() { return {Kind::completed, {}}; }
        static Status cancelled() { return {Kind::cancelled, {}}; }
        static Status failed(std::string message) { return {Kind::failed, std::move(message)}; }

        bool isFinished() const {
            return kind == Kind::completed || kind == Kind::cancelled || kind == Kind::failed;
        }
        // "Queued", "Processing", "Completed", "Cancelled", "Failed".
        std::string label() const;

        friend bool operator==(const Status&, const Status&) = default;
    };

    Uuid id;
    ProcessingRequest request;
    Status status;
    std::optional<double> fractionCompleted;
};

}  // namespace tavrolin
