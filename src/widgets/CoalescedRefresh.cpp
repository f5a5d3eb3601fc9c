#include "widgets/CoalescedRefresh.h"

#include <QMetaObject>
#include <QObject>

namespace tavrolin {

CoalescedRefresh::CoalescedRefresh(QObject* owner, std::function<void()> refresh)
    : owner_(owner), refresh_(std::move(refresh)) {}

void CoalescedRefresh::schedule() {
    if (pending_) {
        return;
    }
    pending_ = true;
    QMetaObject::invokeMethod(
        owner_,
        [this] {
            pending_ = false;
            refresh_();
        },
        Qt::QueuedConnection);
}

}  // namespace tavrolin
