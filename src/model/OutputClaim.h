#pragma once

namespace tavrolin {

// Whether a job of the queue will write an output, and whether that job is already running.
enum class OutputClaim { none, waiting, running };

}  // namespace tavrolin
