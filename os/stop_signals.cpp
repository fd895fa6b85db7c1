#include "os/stop_signals.h"

#include <pthread.h>

#include <csignal>

namespace os {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void unblockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

StopSignalThread::StopSignalThread(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    // The mask must hold in this thread too, or a signal could be delivered
    // to it (or kill the process) instead of waiting for sigwait.
    blockStopSignals();
    m_thread = std::thread([this] { run(); });
}

StopSignalThread::~StopSignalThread() { stop(); }

void StopSignalThread::stop() {
    if (!m_thread.joinable()) return;
    m_stopping = true;
    // A signal of the set aimed at this thread alone wakes its sigwait; the
    // flag tells it that this one is ours.
    pthread_kill(m_thread.native_handle(), SIGHUP);
    m_thread.join();
}

void StopSignalThread::run() {
    const sigset_t set = stopSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (m_stopping) return;
        m_onSignal(signal);
    }
}

}  // namespace os
