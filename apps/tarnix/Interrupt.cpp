#include "apps/tarnix/Interrupt.h"

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "apps/tarnix/SafeOutput.h"

namespace tarnix::interrupt {

namespace {

std::atomic<int> gSignal{0};
std::mutex gHooksLock;
std::map<int, std::function<void()>> gHooks;
int gNextId = 0;

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void install() {
    // A closed pipe to ffmpeg shows as a write error, not as a signal that ends tarnix.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0) continue;
            if (gSignal.exchange(sig) != 0) {
                SafeOutput::discardAllNow();
                ::_exit(128 + sig);
            }
            std::lock_guard<std::mutex> guard(gHooksLock);
            for (auto& [id, hook] : gHooks) hook();
        }
    }).detach();
}

bool requested() { return gSignal.load() != 0; }
int signalNumber() { return gSignal.load(); }

Hook::Hook(std::function<void()> onSignal) {
    std::lock_guard<std::mutex> guard(gHooksLock);
    mId = gNextId++;
    gHooks[mId] = std::move(onSignal);
    // A signal that came before the hook existed still counts.
    if (gSignal.load() != 0) gHooks[mId]();
}

Hook::~Hook() {
    std::lock_guard<std::mutex> guard(gHooksLock);
    gHooks.erase(mId);
}

}  // namespace tarnix::interrupt
