#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

#include "preview/FrameDecoder.h"

namespace tavrolin {

// Serves pictures of one opened file by frame index on its own worker thread. Only the newest
// request that is still pending is served: a burst of requests costs one decode for the last
// one (plus the one already running). request() only stores the index and wakes the worker,
// from any thread; it never waits for a lock the worker may hold. Each picture (or failure) is
// handed to the callbacks on the worker thread. Destroying the server stops the worker within one
// packet of its current decode (it joins); no callback runs after that.
class FrameServer {
  public:
    using FrameDelivery = std::function<void(VideoFrame)>;
    using FailureDelivery = std::function<void(std::size_t index)>;

    FrameServer(std::shared_ptr<FrameDecoder> decoder, FrameDelivery deliver,
                FailureDelivery failed = {});
    ~FrameServer();
    FrameServer(const FrameServer&) = delete;
    FrameServer& operator=(const FrameServer&) = delete;

    const VideoFrameIndex& index() const { return index_; }
    void request(std::size_t frameIndex);

  private:
    void serve(std::stop_token stop);

    const VideoFrameIndex index_;
    std::shared_ptr<FrameDecoder> decoder_;
    FrameDelivery deliver_;
    FailureDelivery failed_;
    static constexpr std::size_t nothingPending = std::numeric_limits<std::size_t>::max();
    // Only wakes the worker to see that it is stopped.
    static constexpr std::size_t stopping = nothingPending - 1;
    std::atomic<std::size_t> pending_{nothingPending};
    std::jthread worker_;  // last: starts after everything above exists
};

}  // namespace tavrolin
