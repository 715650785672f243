#include "cli/CancelSignal.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t cancelSignal = 0;

extern "C" void OnCancelSignal(int) {
    cancelSignal = 1;
}
}  // namespace

void InstallCancelSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a signal must not turn a copy in progress into an
    // error; the run stops at the next item instead.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool CancelSignalReceived() {
    return cancelSignal != 0;
}
