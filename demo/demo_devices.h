#pragma once
// The demo line's simulated devices at work: each runs a DeviceScript on a
// thread of its own over the slave link of a virtual port, as another program
// would. The thread opens the path (O_RDWR|O_NOCTTY|O_NONBLOCK), sets raw
// mode, and waits in poll() on the port and on a wake-up fd, so a stop request
// ends it at once. A hang-up or a path that is not there yet is retried every
// 100 ms. Output that the line does not take yet is kept, and the script is
// not stepped while more than a few KiB wait.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "demo/demo_script.h"
#include "platform/clock.h"

namespace ostrel::demo {

class SimulatedDevice {
public:
    // Starts the thread at once. `clock` gives steady milliseconds.
    SimulatedDevice(std::string path, std::unique_ptr<demo::DeviceScript> script,
                    platform::MillisClock clock = platform::steadyClock());
    ~SimulatedDevice();  // requests stop and joins
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    // Bytes read from the line so far.
    std::uint64_t bytesReceived() const { return received_.load(); }

private:
    void run(std::stop_token stop);

    const std::string path_;
    std::unique_ptr<demo::DeviceScript> script_;
    platform::MillisClock clock_;
    std::atomic<std::uint64_t> received_{0};
    std::jthread thread_;  // last: started once the members above exist
};

// The two devices of the demo line: the DTE on one link, the DCE on the other.
class DemoLine {
public:
    DemoLine(const std::string& dteLink, const std::string& dceLink, int paceMs, std::uint32_t seed);

private:
    SimulatedDevice dte_;
    SimulatedDevice dce_;
};

}  // namespace ostrel::demo
