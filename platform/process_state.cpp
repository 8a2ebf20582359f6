#include "platform/process_state.h"

#include <atomic>

namespace {
std::atomic<bool> Terminating{false};
}

bool ApplicationTerminating() {
    return Terminating.load();
}

void SetApplicationTerminating(bool terminating) {
    Terminating.store(terminating);
}
