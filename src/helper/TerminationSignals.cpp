#include "helper/TerminationSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

bool TerminationSignals::block() {
    const sigset_t set = terminationSet();
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

void TerminationSignals::unblock() {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

std::unique_ptr<TerminationSignals> TerminationSignals::watch(Handler handler, std::string& error) {
    const sigset_t set = terminationSet();
    xpc::internal::UniqueFd fd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!fd) {
        error = std::string("signalfd: ") + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<TerminationSignals> signals(new TerminationSignals(std::move(fd), std::move(handler)));
    TerminationSignals* self = signals.get();
    signals->watch_ = dispatch::RunLoop::main().watch(signals->fd_.get(), dispatch::RunLoop::Readable,
                                                      [self](unsigned) { self->onReadable(); });
    if (!signals->watch_) {
        error = "the main run loop cannot watch the signalfd";
        return nullptr;
    }
    return signals;
}

TerminationSignals::TerminationSignals(xpc::internal::UniqueFd fd, Handler handler)
    : fd_(std::move(fd)), handler_(std::move(handler)) {}

void TerminationSignals::onReadable() {
    signalfd_siginfo info;
    while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        handler_(static_cast<int>(info.ssi_signo));
    }
}
