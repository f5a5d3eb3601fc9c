#pragma once

#include <chrono>
#include <functional>

namespace tavrolin {

// Work whose owner went while it was still running, most often blocked where no stop reaches
// (a read or a listing in a hung network mount). Its owner asked it to stop and hands it here
// rather than wait: the list lives as long as the process and is never destroyed, so nothing in
// it is joined at exit, and work still blocked then ends with the process. Any thread.
class AbandonedWork {
  public:
    // `release` is asked, under the list's lock, whether the work has ended; once it has, it
    // frees what the work held (joins its thread, deletes its pool) and returns true. It must
    // never wait. Ended work is released whenever more is kept and while settle() waits.
    using Release = std::function<bool()>;

    static void keep(Release release);

    // Waits up to `within` for the kept work to end (a stopped task removing its working
    // folder), and returns whether it all did. Work blocked for good is left as it is.
    static bool settle(std::chrono::milliseconds within);
};

}  // namespace tavrolin
