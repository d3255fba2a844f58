// The break signals of the window program: the handler, the socket pair that carries them to the
// main thread, and their connection to the main window.
#include "ui/SignalBreak.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <iterator>

#include "ui/UForm.h"

namespace norvex::ui {
namespace {

constexpr int kBreakSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The socket pair: the handler writes to [1], the notifier reads [0]. -1 while no object holds it.
int g_pair[2] = {-1, -1};
// Which signals the handler took, and what they did before.
volatile sig_atomic_t g_handled[std::size(kBreakSignals)] = {};
struct sigaction g_before[std::size(kBreakSignals)];

void OnBreakSignal(int sig) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(sig);
    // Non-blocking: a full socket already holds a signal that will be seen.
    [[maybe_unused]] const ssize_t written = ::write(g_pair[1], &number, 1);
    // A second signal ends the process at once.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (std::size_t i = 0; i < std::size(kBreakSignals); ++i)
        if (g_handled[i]) ::sigaction(kBreakSignals[i], &byDefault, nullptr);
    errno = savedErrno;
}

}  // namespace

const char* SignalName(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "?";
    }
}

TSignalBreak::TSignalBreak(QObject* parent) : QObject(parent) {
    if (g_pair[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pair) != 0) {
        g_pair[0] = g_pair[1] = -1;
        return;
    }
    owner_ = true;
    notifier_ = new QSocketNotifier(g_pair[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TSignalBreak::Drain);
    for (std::size_t i = 0; i < std::size(kBreakSignals); ++i) {
        struct sigaction& before = g_before[i];
        if (::sigaction(kBreakSignals[i], nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
        struct sigaction on {};
        on.sa_handler = OnBreakSignal;
        sigemptyset(&on.sa_mask);
        on.sa_flags = SA_RESTART;
        g_handled[i] = 1;
        ::sigaction(kBreakSignals[i], &on, nullptr);
    }
}

TSignalBreak::~TSignalBreak() {
    if (!owner_) return;
    for (std::size_t i = 0; i < std::size(kBreakSignals); ++i) {
        if (!g_handled[i]) continue;
        g_handled[i] = 0;
        ::sigaction(kBreakSignals[i], &g_before[i], nullptr);
    }
    delete notifier_;
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
}

void TSignalBreak::Drain() {
    unsigned char numbers[16];
    ssize_t got;
    while ((got = ::read(g_pair[0], numbers, sizeof numbers)) > 0)
        for (ssize_t i = 0; i < got; ++i) {
            if (!first_) first_ = numbers[i];
            emit Received(numbers[i]);
        }
}

TSignalBreak* InstallSignalBreak(TfrmMain& main) {
    auto* breaks = new TSignalBreak(&main);
    QObject::connect(breaks, &TSignalBreak::Received, &main, [&main](int sig) { main.CloseOnSignal(SignalName(sig)); });
    return breaks;
}

int ExitStatusAfterSignals(const TfrmMain& main, const TSignalBreak& breaks, int status) {
    return main.BrokenOffBySignal() && breaks.First() ? 128 + breaks.First() : status;
}

}  // namespace norvex::ui
