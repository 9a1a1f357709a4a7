#include "SignalExit.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace polyvant {

namespace {

int g_pipe[2] = {-1, -1};
QSocketNotifier* g_notifier = nullptr;
std::function<void()> g_onExit;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int signo)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void InstallExitSignals(std::function<void()> onExit)
{
    g_onExit = std::move(onExit);
    if (g_pipe[0] >= 0)
        return;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    g_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(g_notifier, &QSocketNotifier::activated, [] {
        unsigned char buffer[64];
        while (::read(g_pipe[0], buffer, sizeof(buffer)) > 0) {
        }
        if (g_onExit)
            g_onExit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kSignals)
        ::sigaction(signo, &action, nullptr);
}

void RemoveSignalHandlers()
{
    if (g_pipe[0] < 0)
        return;
    for (int signo : kSignals)
        ::signal(signo, SIG_DFL);
    delete g_notifier;
    g_notifier = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_onExit = nullptr;
}

} // namespace polyvant
