#pragma once

#include <QCoreApplication>

namespace tavtest {

// The queue posts to the GUI thread, so its tests need an application object. Made once per
// test process and never destroyed.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        new QCoreApplication(argc, argv);
    }
}

}  // namespace tavtest
