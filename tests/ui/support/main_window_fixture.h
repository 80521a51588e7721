#pragma once
// A real main window on the offscreen platform over pseudo-terminal ports:
// far ends mapped as COM1 and COM2, an engine, and Cmainwin built from its
// template. Helpers click the real widgets and wait with deadlines while the
// GUI loop runs.

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
#include "support/far_end.h"
#include "ui/caboutbox.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"

namespace ostrel::ui::test {

// Runs the GUI loop until `condition` holds or `timeout` passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs the GUI loop for queued calls (a few rounds, no waiting for time).
void processQueued();

// Clicks a widget as the operator would: a button in its middle, a radio on
// its indicator. False when the widget is missing.
bool clickWidget(QWidget* widget);

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the engine and the window; `ports` far ends become COM1, COM2, ...
    void makeWindow(int ports = 2);

    // Clicks control `id` of the main window / the mode window.
    bool click(int id);
    bool clickMode(int id);
    // The mode window shown through the mode button, a radio clicked, then "Close".
    void chooseMode(int radioId);
    bool enabled(int id) const;
    bool checked(int id) const;
    QString caption(int id) const;
    // The traffic window's text once everything queued has been applied.
    std::string traffic();
    // Waits until the traffic window's text contains `text`.
    bool waitForTraffic(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Enabled state of every control with an id.
    std::map<int, bool> enabledStates() const;

    std::vector<std::unique_ptr<FarEnd>> far;  // far[0] is COM1
    platform::PortMap ports;
    std::unique_ptr<engine::Engine> engine;
    std::unique_ptr<Cmainwin> window;
};

}  // namespace ostrel::ui::test
