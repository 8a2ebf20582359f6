#pragma once

#include <functional>

// Handles the calling thread's events until `done` holds or `limitMs` have
// passed; returns whether `done` held. Tests wait on this instead of sleeping.
bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000);

// Handles the calling thread's toolkit events, polling every millisecond, until
// `done` holds or `limitMs` have passed; returns whether `done` held.
bool ProcessEventsUntil(const std::function<bool()>& done, int limitMs = 20000);
