#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <utility>

namespace tavrolin {

// Runs `work` on `pool` (a WorkerPool or QThreadPool) and hands its result to `deliver` on the GUI
// thread, but only while `owner` still exists: the guard is looked at on the GUI thread only, and
// the result is posted through the application object so it never reaches a destroyed owner. Stale
// results (a stop requested meanwhile, a newer task) are for `deliver` to drop, by its own task id
// or token.
template <typename Owner, typename Pool, typename Work, typename Deliver>
void runGuardedTask(Owner* owner, Pool& pool, Work work, Deliver deliver) {
    QPointer<Owner> guard(owner);
    pool.start([guard, work = std::move(work), deliver = std::move(deliver)]() mutable {
        auto result = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, deliver = std::move(deliver), result = std::move(result)]() mutable {
                if (guard) {
                    deliver(*guard, std::move(result));
                }
            },
            Qt::QueuedConnection);
    });
}

}  // namespace tavrolin
