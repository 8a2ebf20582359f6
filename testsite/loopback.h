#pragma once

#include <cstdint>

// Ports of 127.0.0.1 for servers that tests and benchmarks start.

// A port that nobody listens on now: bound once, then released, so another program
// may take it before it is used. Throws std::runtime_error when none can be bound.
uint16_t FreeLoopbackPort();
// Whether something accepts connections on the port now.
bool LoopbackAccepts(uint16_t port);
