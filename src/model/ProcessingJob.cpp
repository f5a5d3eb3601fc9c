#include "model/ProcessingJob.h"

namespace tavrolin {

std::string ProcessingJob::Status::label() const {
    switch (kind) {
        case Kind::queued:
            return "Queued";
        case Kind::running:
            return "Processing";
        case Kind::completed:
            return "Completed";
        case Kind::cancelled:
            return "Cancelled";
        case Kind::failed:
            return "Failed";
    }
    return {};
}

}  // namespace tavrolin
