#pragma once
// A real main window on the offscreen platform over pseudo-terminal ports:
// far ends mapped as COM ports (COM1 and COM2 unless told otherwise), an
// engine, and Cmainwin built from its template. Helpers click the real
// widgets and wait with deadlines while the GUI loop runs.

#include <gtest/gtest.h>

#include <QPointer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/port_map.h"
#include "platform/pty_pair.h"
#include "support/click_widget.h"
#include "ui/caboutbox.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "window/main_window_ids.h"

namespace ostrel::ui::test {

// The far end of a port: the master of a pseudo-terminal pair whose slave
// path is mapped as a COM port. The pair's own slave fd stays open, so the
// path stays valid between opens.
class FarEnd {
public:
    FarEnd();
    const std::string& path() const { return pair_.slavePath; }
    // Writes everything; false when it could not within the deadline.
    bool write(std::string_view bytes, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Reads until `count` bytes came or the deadline passed; the GUI keeps running meanwhile.
    std::string read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Closes the master: the port's side of the line hangs up.
    void hangUp() { pair_.master.reset(); }
    // For a test's own threads that write or read the far end (non-blocking).
    int masterFd() const { return pair_.master.get(); }

private:
    platform::PtyPair pair_;
};

using window::test::kMainWindowIds;

// Runs the GUI loop until `condition` holds or `timeout` passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Runs the GUI loop for queued calls (a few rounds, no waiting for time).
void processQueued();

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override { makeWindow(); }
    void TearDown() override;
    // Creates the engine and the window, with a far end for each COM number.
    // A test that wants other ports overrides SetUp() and calls it itself.
    void makeWindow(const std::vector<int>& comNumbers = {1, 2});

    // Clicks control `id` of the main window / the mode window.
    bool click(int id);
    bool clickMode(int id);
    // The mode window shown through the mode button, a radio clicked, then "Close".
    void chooseMode(int radioId);
    // chooseMode(), then "Open COM".
    void openIn(int radioId);
    bool enabled(int id) const;
    bool checked(int id) const;
    QString caption(int id) const;
    // The traffic window's text once everything queued has been applied.
    std::string traffic();
    // Waits until the traffic window's text contains `text`.
    bool waitForTraffic(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // What Close COM leaves: its caption back, the settings unlocked, the
    // sending controls disabled and no port open.
    void expectSessionClosed();
    // Enabled state of every control with an id.
    std::map<int, bool> enabledStates() const;

    std::vector<std::unique_ptr<FarEnd>> far;  // in the order of the COM numbers
    platform::PortMap ports;
    std::unique_ptr<engine::Engine> engine;
    std::unique_ptr<Cmainwin> window;
};

}  // namespace ostrel::ui::test
