#include "demo/demo_devices.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stop_token>

#include "platform/event.h"
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
        (void)::poll(&fd, 1, ms);
    };

    while (!stop.stop_requested()) {
        if (!line.valid()) {
            line.reset(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
            if (!line.valid()) {
                pause(kRetryMs);
                continue;
            }
            platform::setRawMode(line.get());
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
        if (::poll(fds, 2, timeout) < 0) {
            if (errno != EINTR) pause(kRetryMs);
            continue;
        }
        if (fds[1].revents & POLLIN) break;

        bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(line.get(), buffer, sizeof buffer);
            if (n > 0) {
                received_ += static_cast<std::uint64_t>(n);
                script_->receive(std::string_view(buffer, static_cast<std::size_t>(n)), clock_());
                hungUp = false;  // data first; a hang-up shows again on the next poll
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hungUp = true;
            }
        }
        if (!hungUp && (fds[0].revents & POLLOUT) && !unsent.empty()) {
            const ssize_t n = ::write(line.get(), unsent.data(), unsent.size());
            if (n > 0) {
                sent_ += static_cast<std::uint64_t>(n);
                unsent.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
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
