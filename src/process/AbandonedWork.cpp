#include "process/AbandonedWork.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrolin {

namespace {

struct Kept {
    std::mutex mutex;
    std::vector<AbandonedWork::Release> work;

    // Under the lock.
    void releaseEnded() {
        std::erase_if(work, [](const AbandonedWork::Release& release) { return release(); });
    }
};

Kept& kept() {
    // Never destroyed: a thread still blocked at exit must not be joined (or, for a std::thread,
    // end the process) by a destructor.
    static Kept* const list = new Kept;
    return *list;
}

}  // namespace

void AbandonedWork::keep(Release release) {
    Kept& list = kept();
    const std::lock_guard lock(list.mutex);
    list.releaseEnded();
    if (!release()) {
        list.work.push_back(std::move(release));
    }
}

bool AbandonedWork::settle(std::chrono::milliseconds within) {
    Kept& list = kept();
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (true) {
        {
            const std::lock_guard lock(list.mutex);
            list.releaseEnded();
            if (list.work.empty()) {
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // Ended work says so only when asked; it is asked again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace tavrolin
