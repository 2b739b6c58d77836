#include "app/SignalEnding.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace morvel {

namespace {

int pipeFds[2] = {-1, -1};
constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int signal) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    // Nothing else is safe here; a full pipe means an ending is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
}

} // namespace

SignalEnding::SignalEnding(std::function<void(int signal)> end, QObject* parent)
    : QObject(parent), end_(std::move(end)) {
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Read(); });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : EndingSignals)
        ::sigaction(signal, &action, nullptr);
}

SignalEnding::~SignalEnding() {
    for (int signal : EndingSignals)
        ::signal(signal, SIG_DFL);
    if (pipeFds[0] >= 0) ::close(pipeFds[0]);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void SignalEnding::Read() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        if (received_ != 0) continue; // one ending is enough
        received_ = byte;
        if (end_) end_(byte);
    }
}

} // namespace morvel
