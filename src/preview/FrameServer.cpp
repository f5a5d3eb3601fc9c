#include "preview/FrameServer.h"

#include <algorithm>
#include <utility>

#include "model/CancellationError.h"
#include "preview/PreviewMediaError.h"

namespace tavrolin {

FrameServer::FrameServer(std::shared_ptr<FrameDecoder> decoder, FrameDelivery deliver,
                         FailureDelivery failed)
    : index_(decoder->index()),
      decoder_(std::move(decoder)),
      deliver_(std::move(deliver)),
      failed_(std::move(failed)),
      worker_([this](std::stop_token stop) { serve(stop); }) {}

FrameServer::~FrameServer() {
    worker_.request_stop();
    pending_.store(stopping);
    pending_.notify_one();
}

void FrameServer::request(std::size_t frameIndex) {
    pending_.store(std::min(frameIndex, stopping - 1));
    pending_.notify_one();
}

void FrameServer::serve(std::stop_token stop) {
    while (true) {
        pending_.wait(nothingPending);
        if (stop.stop_requested()) {
            return;
        }
        const std::size_t next = pending_.exchange(nothingPending);
        if (next == nothingPending || next == stopping) {
            continue;
        }
        try {
            VideoFrame picture = decoder_->decode(next, stop);
            if (!stop.stop_requested()) {
                deliver_(std::move(picture));
            }
        } catch (const PreviewMediaError&) {
            if (failed_ && !stop.stop_requested()) {
                failed_(next);
            }
        } catch (const CancellationError&) {
            return;
        }
    }
}

}  // namespace tavrolin
