#include "shell/QuitSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace tavrolin {

namespace {

int pipeEnds[2] = {-1, -1};

void onSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::vector<int> signalNumbers, QObject* parent)
    : QObject(parent), signalNumbers_(std::move(signalNumbers)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        return;
    }
    notifier_ = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(pipeEnds[1], &byte, 1) == 1) {
            emit quitRequested(byte);
        }
    });
    for (int number : signalNumbers_) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction old {};
        ::sigaction(number, &action, &old);
        previous_.push_back(old);
    }
}

QuitSignals::~QuitSignals() {
    for (std::size_t i = 0; i < previous_.size(); ++i) {
        ::sigaction(signalNumbers_[i], &previous_[i], nullptr);
    }
    delete notifier_;
    for (int& end : pipeEnds) {
        if (end >= 0) {
            ::close(end);
            end = -1;
        }
    }
}

}  // namespace tavrolin
