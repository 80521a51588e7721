#include "demo/demo_devices.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <stop_token>

#include "platform/event.h"
#include "platform/posix_io.h"
#include "platform/pty_pair.h"
#include "platform/unique_fd.h"

namespace ostrel::demo {
namespace {

constexpr int kRetryMs = 100;
constexpr std::size_t kMaxUnsent = 4096;

}  // namespace

SimulatedDevice::SimulatedDevice(std::string path, std::unique_ptr<demo::DeviceScript> script,
                                 platform::MillisClock clock)
    : path_(std::move(path)),
      script_(std::move(script)),
      clock_(clock ? std::move(clock) : platform::steadyClock()),
      thread_([this](std::stop_token stop) { run(std::move(stop)); }) {}

SimulatedDevice::~SimulatedDevice() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

void SimulatedDevice::run(std::stop_token stop) {
    platform::WakeFd wake;
    std::stop_callback onStop(stop, [&wake] { wake.signal(); });
    platform::UniqueFd line;
    std::string unsent;
    char buffer[4096];

    // Sleeps up to `ms`, returning early on a stop request.
    auto pause = [&](int ms) {
        pollfd fd{wake.fd(), POLLIN, 0};
        (void)platform::io::poll(&fd, 1, ms);
    };

    while (!stop.stop_requested()) {
        if (!line.valid()) {
            line.reset(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
            if (!line.valid()) {
                pause(kRetryMs);
                continue;
            }
            (void)platform::setRawMode(line.get());
        }

        const demo::Millis now = clock_();
        demo::Millis wakeAt = now + kRetryMs;
        if (unsent.size() < kMaxUnsent) {
            demo::Step step = script_->step(now);
            unsent += step.out;
            wakeAt = step.wakeAt;
        }
        const auto timeout = static_cast<int>(std::clamp<demo::Millis>(wakeAt - now, 0, 1000));

        pollfd fds[2] = {{line.get(), static_cast<short>(POLLIN | (unsent.empty() ? 0 : POLLOUT)), 0},
                         {wake.fd(), POLLIN, 0}};
        if (!platform::io::poll(fds, 2, timeout)) {
            pause(kRetryMs);
            continue;
        }
        if (fds[1].revents & POLLIN) break;

        bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (fds[0].revents & POLLIN) {
            const platform::Result<std::size_t> n =
                platform::io::readSome(line.get(), {reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer});
            if (n && n.value() > 0) {
                received_ += n.value();
                script_->receive(std::string_view(buffer, n.value()), clock_());
                hungUp = false;  // data first; a hang-up shows again on the next poll
            } else if (n || n.error().code != EAGAIN) {
                hungUp = true;
            }
        }
        if (!hungUp && (fds[0].revents & POLLOUT) && !unsent.empty()) {
            const platform::Result<std::size_t> n = platform::io::writeSome(
                line.get(), {reinterpret_cast<const std::uint8_t*>(unsent.data()), unsent.size()});
            if (n) {
                unsent.erase(0, n.value());
            } else if (n.error().code != EAGAIN) {
                hungUp = true;
            }
        }
        if (hungUp) {
            // The other end went away: let go of the line and try again later.
            line.reset();
            unsent.clear();
            pause(kRetryMs);
        }
    }
}

DemoLine::DemoLine(const std::string& dteLink, const std::string& dceLink, int paceMs, std::uint32_t seed)
    : dte_(dteLink, std::make_unique<demo::SimulatedDte>(paceMs, seed)),
      dce_(dceLink, std::make_unique<demo::SimulatedDce>(paceMs, seed ^ 0x9E3779B9u)) {}

}  // namespace ostrel::demo
