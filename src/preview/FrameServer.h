#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "preview/FrameDecoder.h"

namespace tavrolin {

// Serves pictures of one opened file by frame index on its own worker thread. Only the newest
// request that is still pending is served: a burst of requests costs one decode for the last
// one (plus the one already running). request() only stores the index and wakes the worker,
// from any thread; it never waits for a lock the worker may hold. Each picture (or failure) is
// handed to the callbacks on the worker thread. Destroying the server asks the worker to stop,
// which it does within one packet of its current decode, and never waits for it: a read held
// by a hung folder would hold the caller too. A worker still decoding is left to AbandonedWork
// with the decoder; no callback runs once the destructor has returned.
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
    // What the worker uses: shared with it, so that it may outlive the server.
    struct Worker;

    const VideoFrameIndex index_;
    std::shared_ptr<Worker> worker_;
};

}  // namespace tavrolin
