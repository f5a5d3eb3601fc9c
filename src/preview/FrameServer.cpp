#include "preview/FrameServer.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

#include "model/CancellationError.h"
#include "preview/PreviewMediaError.h"
#include "process/AbandonedWork.h"

namespace tavrolin {

struct FrameServer::Worker {
    static constexpr std::size_t nothingPending = std::numeric_limits<std::size_t>::max();
    // Only wakes the worker to see that it is stopped.
    static constexpr std::size_t stopping = nothingPending - 1;

    std::shared_ptr<FrameDecoder> decoder;
    FrameDelivery deliver;
    FailureDelivery failed;
    std::atomic<std::size_t> pending{nothingPending};
    std::stop_source stop;
    // Held while a callback runs; the server's destructor takes it to know none runs after it.
    std::mutex delivering;
    std::atomic<bool> ended{false};
    std::thread thread;

    void serve();
    template <typename Callback>
    void hand(Callback&& callback) {
        const std::lock_guard lock(delivering);
        if (!stop.stop_requested()) {
            callback();
        }
    }
};

void FrameServer::Worker::serve() {
    const std::stop_token token = stop.get_token();
    while (true) {
        pending.wait(nothingPending);
        if (token.stop_requested()) {
            break;
        }
        const std::size_t next = pending.exchange(nothingPending);
        if (next == nothingPending || next == stopping) {
            continue;
        }
        try {
            VideoFrame picture = decoder->decode(next, token);
            hand([&] { deliver(std::move(picture)); });
        } catch (const PreviewMediaError&) {
            if (failed) {
                hand([&] { failed(next); });
            }
        } catch (const CancellationError&) {
            break;
        }
    }
    ended = true;
}

FrameServer::FrameServer(std::shared_ptr<FrameDecoder> decoder, FrameDelivery deliver,
                         FailureDelivery failed)
    : index_(decoder->index()), worker_(std::make_shared<Worker>()) {
    worker_->decoder = std::move(decoder);
    worker_->deliver = std::move(deliver);
    worker_->failed = std::move(failed);
    // The thread holds the worker's state, never the server.
    worker_->thread = std::thread([worker = worker_.get()] { worker->serve(); });
}

FrameServer::~FrameServer() {
    {
        const std::lock_guard lock(worker_->delivering);
        worker_->stop.request_stop();
    }
    worker_->pending.store(Worker::stopping);
    worker_->pending.notify_one();
    // The list frees the worker's state once its thread has ended.
    AbandonedWork::keep([worker = worker_] {
        if (!worker->ended) {
            return false;
        }
        worker->thread.join();
        return true;
    });
}

void FrameServer::request(std::size_t frameIndex) {
    worker_->pending.store(std::min(frameIndex, Worker::stopping - 1));
    worker_->pending.notify_one();
}

}  // namespace tavrolin
