#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace tavtest {

// The longest wait between two turns of the event loop while measuring.
struct LongestStall {
    QTimer ticks;
    QElapsedTimer sinceLast;
    qint64 longest = -1;  // not measuring
    LongestStall() {
        QObject::connect(&ticks, &QTimer::timeout, [this] {
            if (longest >= 0) {
                longest = std::max(longest, sinceLast.restart());
            }
        });
        ticks.start(5);
    }
    void start() {
        longest = 0;
        sinceLast.start();
    }
    qint64 stop() { return std::exchange(longest, -1); }
};

}  // namespace tavtest
