#pragma once

#include <functional>

// Handles the calling thread's events until `done` holds or `limitMs` have
// passed; returns whether `done` held. Tests wait on this instead of sleeping.
bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000);
