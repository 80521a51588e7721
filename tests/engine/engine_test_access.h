#pragma once
// The engine's channels, opened to the tests that look at or set what the
// engine keeps to itself: the rings, the transmitters, the receive threads,
// the output flags and the receive counters.

#include "engine/engine.h"
#include "engine/port_channel.h"

namespace ostrel::engine {

struct EngineTestAccess {
    static PortChannel& channel(Engine& engine, int side) { return engine.channels_[side]; }
    static const PortChannel& channel(const Engine& engine, int side) { return engine.channels_[side]; }
};

}  // namespace ostrel::engine
