#include "engine/split/HeldProbe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "engine/FFprobeQueries.h"
#include "process/Utf8Repair.h"

namespace tavrolin {

namespace fs = std::filesystem;

HeldProbe::HeldProbe(ProcessRunning& runner, fs::path ffprobe, std::vector<std::string> arguments,
                     fs::path fifo, std::stop_token stop)
    : runner_(runner),
      ffprobe_(std::move(ffprobe)),
      arguments_(std::move(arguments)),
      fifo_(std::move(fifo)),
      stop_(stop),
      forwardStop_(std::move(stop), [this] { ownStop_.request_stop(); }) {
    if (::mkfifo(fifo_.c_str(), 0600) != 0) {
        return;
    }
    ended_ = ::eventfd(0, EFD_CLOEXEC);
    if (ended_ < 0) {
        ::unlink(fifo_.c_str());
        return;
    }
    auto arguments_and_output = arguments_;
    arguments_and_output.insert(arguments_and_output.end(), {"-o", fifo_.string()});
    run_ = std::async(std::launch::async,
                      [this, held = std::move(arguments_and_output), own = ownStop_.get_token()] {
                          ProcessResult result;
                          try {
                              result = runner_.run(ffprobe_, held, {}, own);
                          } catch (const std::system_error&) {
                              result.terminationStatus = 127;
                          }
                          const std::uint64_t one = 1;
                          [[maybe_unused]] const auto written = ::write(ended_, &one, sizeof one);
                          return result;
                      });
}

HeldProbe::~HeldProbe() {
    ownStop_.request_stop();
    if (run_.valid()) {
        run_.wait();
    }
    if (ended_ >= 0) {
        ::close(ended_);
        ::unlink(fifo_.c_str());
    }
}

ProcessResult HeldProbe::finish() {
    const int report = run_.valid() ? ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (report < 0) {
        if (run_.valid()) {
            ownStop_.request_stop();
            run_.wait();
        }
        return runBoundedFFprobe(runner_, ffprobe_, arguments_, stop_);
    }
    // ffprobe now opens its end and its input. Until it has opened its end the FIFO shows
    // nothing to read; once it closes it, the end of the report. A run that ends without
    // opening it (stopped, or refused its arguments) ends the wait instead.
    std::string text;
    std::array<char, 65536> buffer{};
    bool childEnded = false;
    while (true) {
        std::array<pollfd, 2> waits{pollfd{report, POLLIN, 0}, pollfd{ended_, POLLIN, 0}};
        if (!childEnded && ::poll(waits.data(), waits.size(), -1) < 0 && errno != EINTR) {
            break;
        }
        childEnded = childEnded || (waits[1].revents & POLLIN) != 0;
        const ssize_t count = ::read(report, buffer.data(), buffer.size());
        if (count > 0) {
            text.append(buffer.data(), static_cast<std::size_t>(count));
        } else if (count == 0) {
            break;  // its end closed, or no writer is left
        } else if (errno != EINTR && (errno != EAGAIN || childEnded)) {
            break;
        }
    }
    ::close(report);
    ProcessResult result = run_.get();
    result.standardOutput = repairUtf8(text);
    return result;
}

}  // namespace tavrolin
