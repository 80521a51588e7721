// The Capture button's caption follows the capture also when a failed write
// ends it: the window is told, the caption reads "Capture" again, and the
// next press starts a new capture.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/port_map.h"
#include "platform/pty_test_support.h"
#include "presentation/traffic_formatter.h"
#include "window/control_ids.h"
#include "window/main_window_commands.h"

namespace ostrel::window {
namespace {

class QuietWindow : public engine::WindowLink {
public:
    engine::OperatingMode mode() const override { return engine::kDteEmulation; }
    engine::DisplayFormat displayFormat() const override { return engine::kDisplayHex; }
    engine::SendTarget sendTarget() const override { return engine::kToDte; }
    void postDataReady(int) override {}
    void postReceiveExit(const engine::ReceiveExitNotice&) override {}
    void appendText(std::string_view) override {}
};

TEST(CaptureCommand, ACaptureEndedByAFailedWritePutsTheButtonBackToCapture) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    platform::PortMap ports;
    engine::Engine engine(ports);
    MainWindowState state;
    ControlModel controls;
    controls.declare(id::kCapture);
    std::vector<std::string> captions;
    controls.setObserver([&](const ControlOp& op) {
        if (op.kind == ControlOp::Kind::SetCaption && op.id == id::kCapture) captions.push_back(op.text);
    });
    QuietWindow window;
    presentation::TrafficFormatter formatter(window, state.capture);
    MainWindowCommands commands(state, controls, engine, window, formatter);
    std::atomic<int> ended{0};
    state.capture.setEndedNotify([&] { ++ended; });  // the window posts CaptureEnded on it

    commands.Capture([] { return std::string("/dev/full"); });
    EXPECT_EQ(captions, (std::vector<std::string>{"Stop Capture"}));
    const std::uint8_t byte = 0x41;
    formatter.ShowTraffic(window, &byte, 1);
    ASSERT_TRUE(platform::test::waitUntil([&] { return ended.load() == 1; }));
    commands.CaptureEnded();
    EXPECT_EQ(captions, (std::vector<std::string>{"Stop Capture", "Capture"}));

    // The next press asks for a file: a new capture, not a stop.
    bool asked = false;
    commands.Capture([&] {
        asked = true;
        return std::string("/dev/full");
    });
    EXPECT_TRUE(asked);
    EXPECT_TRUE(state.capture.active());
    // A late notice while that capture runs leaves its caption alone.
    commands.CaptureEnded();
    EXPECT_EQ(captions, (std::vector<std::string>{"Stop Capture", "Capture", "Stop Capture"}));
    commands.Capture({});
    EXPECT_FALSE(state.capture.active());
}

}  // namespace
}  // namespace ostrel::window
