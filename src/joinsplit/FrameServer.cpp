#include "joinsplit/FrameServer.h"

#include <utility>

#include "joinsplit/PreviewMediaError.h"
#include "model/CancellationError.h"

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
    wake_.notify_all();
}

void FrameServer::request(std::size_t frameIndex) {
    {
        std::lock_guard lock(mutex_);
        pending_ = frameIndex;
    }
    wake_.notify_one();
}

void FrameServer::serve(std::stop_token stop) {
    while (true) {
        std::size_t next = 0;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return pending_.has_value(); })) {
                return;
            }
            next = *pending_;
            pending_.reset();
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
