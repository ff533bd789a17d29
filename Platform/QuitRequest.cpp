// QuitRequest: self-pipe for SIGTERM and SIGINT into the main loop.
#include "QuitRequest.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sSignalSockets[2] = {-1, -1};
std::function<void()> sHandler;

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(sSignalSockets[0], &byte, 1);
    errno = saved;
}

} // namespace

Status QuitRequest::install(std::function<void()> handler) {
    sHandler = std::move(handler);
    if (sSignalSockets[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sSignalSockets) != 0) {
        return Status::fail(std::string("cannot create the quit-request socket pair: ") +
                            std::strerror(errno));
    }
    auto* notifier =
        new QSocketNotifier(sSignalSockets[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(sSignalSockets[1], buffer, sizeof buffer) > 0) {
        }
        if (sHandler) {
            sHandler();
        }
    });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0) {
        return Status::fail(std::string("cannot install the quit-request handler: ") +
                            std::strerror(errno));
    }
    return Status::success();
}
