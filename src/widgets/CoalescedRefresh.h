#pragma once

#include <functional>

class QObject;

namespace tavrolin {

// Turns a burst of change signals into one call of `refresh` in the next turn of the event
// loop. The call is dropped when `owner` is destroyed first. GUI thread only.
class CoalescedRefresh {
  public:
    CoalescedRefresh(QObject* owner, std::function<void()> refresh);

    void schedule();

  private:
    QObject* owner_;
    std::function<void()> refresh_;
    bool pending_ = false;
};

}  // namespace tavrolin
