#include "io/TempFiles.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace morvel {

namespace {

// Enough for one output per converter thread and the reports of the window program.
constexpr int SLOT_COUNT = 512;
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

enum SlotState : int { FREE, FILLING, READY };

// A slot's path is written only between FILLING and READY. `Generation` grows with every
// registration, so the handler can tell whether the path it copied stayed the same throughout.
struct Slot {
    std::atomic<int> State{FREE};
    std::atomic<unsigned> Generation{0};
    std::atomic<char> Path[PATH_MAX];
};

Slot slots[SLOT_COUNT];

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free &&
                  std::atomic<char>::is_always_lock_free,
              "the signal handler reads the table through lock-free atomics only");

int Register(const std::string& path) {
    if (path.size() >= PATH_MAX) return NO_TEMP_SLOT;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        int expected = FREE;
        if (!slots[i].State.compare_exchange_strong(expected, FILLING)) continue;
        slots[i].Generation.fetch_add(1);
        for (size_t k = 0; k <= path.size(); ++k)
            slots[i].Path[k].store(path.c_str()[k], std::memory_order_relaxed);
        slots[i].State.store(READY, std::memory_order_release);
        return i;
    }
    return NO_TEMP_SLOT;
}

void Forget(int slot) {
    if (slot >= 0 && slot < SLOT_COUNT) slots[slot].State.store(FREE);
}

void RemoveAndDie(int sig) {
    const int savedErrno = errno;
    RemoveTemporaryFiles();
    errno = savedErrno;
    // The default action of the same signal ends the process once this handler returns.
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

SignalsHeld::SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : CLEANUP_SIGNALS)
        sigaddset(&held, sig);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int CreateTemporaryFile(std::string& pattern, int suffixLength, int& slot) {
    int fd;
    int error;
    {
        SignalsHeld held;
        slot = NO_TEMP_SLOT;
        fd = ::mkstemps(pattern.data(), suffixLength);
        error = errno;
        if (fd >= 0) slot = Register(pattern);
    }
    errno = error;
    return fd;
}

int RenameTemporaryFile(int slot, const std::string& path, const std::string& target) {
    int result;
    int error;
    {
        SignalsHeld held;
        result = std::rename(path.c_str(), target.c_str());
        error = errno;
        if (result == 0) Forget(slot);
    }
    errno = error;
    return result;
}

void RemoveTemporaryFile(int slot, const std::string& path) {
    SignalsHeld held;
    ::unlink(path.c_str());
    Forget(slot);
}

void RemoveTemporaryFiles() {
    char path[PATH_MAX];
    for (Slot& slot : slots) {
        const unsigned generation = slot.Generation.load(std::memory_order_acquire);
        if (slot.State.load(std::memory_order_acquire) != READY) continue;
        size_t n = 0;
        for (char c; n + 1 < sizeof path && (c = slot.Path[n].load(std::memory_order_relaxed));)
            path[n++] = c;
        path[n] = '\0';
        // A slot emptied or filled anew while it was copied is left alone.
        if (slot.State.load(std::memory_order_acquire) != READY ||
            slot.Generation.load(std::memory_order_acquire) != generation)
            continue;
        ::unlink(path);
    }
}

void RemoveTemporaryFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveAndDie;
    sigemptyset(&action.sa_mask);
    for (int sig : CLEANUP_SIGNALS)
        sigaddset(&action.sa_mask, sig);
    for (int sig : CLEANUP_SIGNALS) {
        struct sigaction previous {};
        if (::sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
}

} // namespace morvel
