#pragma once

#include <optional>
#include <string>
#include <vector>

#include "process/FFmpegVersion.h"

namespace tavrolin {

// ffmpeg 5.1 reads each input on a thread of its own once a command has two or more, and hands
// every packet to the main thread through a queue of eight: for a stream copy that costs more
// than the copy (a two-hour film with a transcript as the second input took 2.6 times as long
// as the film copied alone, 3.5 times its processor time). A queue of 0 makes 5.1 read that
// input on the main thread, as it reads a single input; the packets written are the same.
//
// `arguments` with "-thread_queue_size 0" before each input when there are several and
// `release` is 5.1, where that was measured; else unchanged. Every value on the command lines
// this program builds is a number, a name, "key=value" or an absolute path, so "-i" there is
// always the option.
std::vector<std::string> readingInputsOnMainThread(std::vector<std::string> arguments,
                                                   std::optional<FFmpegRelease> release);

// Whether the command reads more than one input (and so whether the release matters).
bool readsSeveralInputs(const std::vector<std::string>& arguments);

}  // namespace tavrolin
