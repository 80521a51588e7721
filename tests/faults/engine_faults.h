#pragma once
// The engine fixture of the engine tests (two far ends on pseudo-terminals as
// COM1 and COM2, a recording window link, the pump running) with the fault
// seam and the health checks every fault case ends with.

#include <gtest/gtest.h>

#include <string>

#include "engine/engine_test_support.h"
#include "support/fault_seam.h"
#include "support/process_health.h"

namespace ostrel::faults {

// CPU the whole process may use in an idle 300 ms once a case is over: well
// above a few wake-ups, far below one thread that spins.
#ifdef OSTREL_SANITIZED_BUILD
inline constexpr double kIdleCpuBoundMs = 90;
#else
inline constexpr double kIdleCpuBoundMs = 45;
#endif

class EngineFaults : public engine::testing::EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        health = HealthBaseline{};
    }
    void TearDown() override {
        clearAll();
        EngineFixture::TearDown();
    }
    // Opens a session in `mode`, with the window's mode set to it (the pump
    // relays and marks by the window's mode).
    std::int32_t openIn(engine::OperatingMode mode) {
        link.setMode(mode);
        return open(mode);
    }
    // The line of COM `com` (1 or 2), as the seam knows it.
    Target line(int com) const { return onFile(far[com - 1]->path()); }
    // After the session closed: every thread it started joined, every fd it
    // opened closed, and nothing spins.
    // `closedByTest`: fds the test itself closed meanwhile (a far end that hung up).
    void expectHealthy(std::size_t closedByTest = 0) {
        clearAll();
        EXPECT_TRUE(engine::testing::waitUntil([&] { return threadCount() == health.threads; }))
            << threadCount() << " threads, " << health.threads << " before";
        EXPECT_EQ(openFdCount() + closedByTest, health.fds);
        EXPECT_LT(cpuMsWhileIdle(), kIdleCpuBoundMs);
    }
    // The status lines shown so far, in order, as one text.
    std::string status() const { return link.statusText(); }

    HealthBaseline health;
};

}  // namespace ostrel::faults
