#pragma once

#include <exception>
#include <stdexcept>
#include <stop_token>

namespace tavrolin {

// Thrown when an operation ends because its stop token was requested. Callers that requested
// the stop drop it; it never reaches a user as a message of its own.
class CancellationError : public std::runtime_error {
  public:
    CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

// Ends the current step with CancellationError once `stop` is requested.
inline void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) {
        throw CancellationError();
    }
}

// Whether a captured error is an `Error` (or derives from one).
template <typename Error>
bool holdsError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Error&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Whether a captured error is a CancellationError.
inline bool isCancellation(const std::exception_ptr& error) {
    return holdsError<CancellationError>(error);
}

}  // namespace tavrolin
