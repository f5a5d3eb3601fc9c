#pragma once

#include <condition_variable>
#include <mutex>

namespace tavrolin {

// Holds back background checks (tools, speech languages, the model server) until the window
// has been painted once, so that they never compete with showing it. Open unless the program
// closes it at start; it must open it again (after the first paint, and on every way out), or
// a waiting check never runs. Any thread.
class StartupGate {
  public:
    static void close();
    static void open();
    // Returns once the gate is open. Never call on the GUI thread while it is closed.
    static void wait();

  private:
    static std::mutex mutex_;
    static std::condition_variable opened_;
    static bool isOpen_;
};

}  // namespace tavrolin
