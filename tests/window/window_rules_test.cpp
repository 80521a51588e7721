// The control tables of the main window and the mode window, op by op and in
// order: initialisation, display and send radios, the five mode choices,
// Open COM per mode, Close COM and the receive-exit notice.

#include "window/window_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/main_window_ids.h"

namespace ostrel::window {
namespace {

using Lines = std::vector<std::string>;

Lines described(const ControlOps& ops) {
    Lines out;
    for (const ControlOp& op : ops) out.push_back(Describe(op));
    return out;
}

// A model holding every control of the main window, as the template makes them.
ControlModel mainWindowModel() {
    ControlModel model;
    for (int control : test::kMainWindowIds) model.declare(control);
    return model;
}

TEST(InitDialog, DisablesExactlyFiveControlsInOrderWhateverThePorts) {
    Lines enables;
    for (const std::string& line : described(InitDialogOps(engine::PortListing{})))
        if (line.starts_with("disable ") || line.starts_with("enable ")) enables.push_back(line);
    EXPECT_EQ(enables, (Lines{"disable 204", "disable 216", "disable 212", "disable 217", "disable 218"}));
}

TEST(Radios, DisplayAndSendRadiosSetTheirMarksInOrderAndTheirValue) {
    const std::pair<int, Lines> display[] = {
        {213, {"check 213", "uncheck 214", "uncheck 234"}},
        {214, {"check 214", "uncheck 213", "uncheck 234"}},
        {234, {"check 234", "uncheck 213", "uncheck 214"}},
        {215, {"check 234", "uncheck 213", "uncheck 214"}},
    };
    const engine::DisplayFormat formats[] = {engine::kDisplayHex, engine::kDisplayAscii, engine::kDisplayOff,
                                             engine::kDisplayNone};
    for (int i = 0; i < 4; ++i) {
        const auto choice = DisplayChoiceFor(display[i].first);
        ASSERT_TRUE(choice) << display[i].first;
        EXPECT_EQ(described(choice->ops), display[i].second);
        EXPECT_EQ(choice->format, formats[i]);
    }
    for (int other : {212, 217, 220, 222, 0}) EXPECT_FALSE(DisplayChoiceFor(other)) << other;

    ASSERT_TRUE(SendTargetChoiceFor(217) && SendTargetChoiceFor(218));
    EXPECT_EQ(described(SendTargetChoiceFor(217)->ops), (Lines{"check 217", "uncheck 218"}));
    EXPECT_EQ(SendTargetChoiceFor(217)->target, engine::kToDte);
    EXPECT_EQ(described(SendTargetChoiceFor(218)->ops), (Lines{"check 218", "uncheck 217"}));
    EXPECT_EQ(SendTargetChoiceFor(218)->target, engine::kToDce);
    EXPECT_FALSE(SendTargetChoiceFor(213));
}

struct ModeRow {
    int radio;
    std::optional<engine::SendTarget> target;
    Lines mainWindow;
};

TEST(ModeChoices, FollowTheModeTable) {
    const std::vector<ModeRow> table{
        {227, engine::kToDte, {"caption 202 \"DTE Emulation\"", "enable 203", "disable 204", "enable 209"}},
        {228, engine::kToDce, {"caption 202 \"DCE Emulation\"", "enable 204", "disable 203", "enable 209"}},
        {229, std::nullopt, {"caption 202 \"Intercede\"", "enable 204", "enable 203", "enable 209"}},
        {230,
         std::nullopt,
         {"select 209 #0", "caption 202 \"Half Duplex\"", "enable 203", "disable 204", "disable 217",
          "disable 218", "disable 209"}},
        {231,
         std::nullopt,
         {"select 209 #0", "caption 202 \"Full Duplex\"", "enable 204", "enable 203", "disable 216",
          "disable 217", "disable 218", "disable 209"}},
    };
    for (int mode = 0; mode < 5; ++mode) {
        const ModeRow& row = table[mode];
        SCOPED_TRACE(row.radio);
        const auto choice = ModeChoiceFor(row.radio);
        ASSERT_TRUE(choice);
        EXPECT_EQ(choice->mode, mode);
        EXPECT_EQ(choice->sendTarget, row.target);
        EXPECT_EQ(described(choice->mainWindowOps), row.mainWindow);
        Lines marks;
        for (int radio : {230, 227, 228, 229, 231})
            marks.push_back((radio == row.radio ? "check " : "uncheck ") + std::to_string(radio));
        EXPECT_EQ(described(choice->modeWindowOps), marks);
        EXPECT_EQ(RadioForMode(mode), row.radio);
    }
    EXPECT_FALSE(ModeChoiceFor(226));
    EXPECT_FALSE(ModeChoiceFor(232));
    EXPECT_EQ(RadioForMode(5), 229);
    EXPECT_EQ(RadioForMode(-1), 229);
}

TEST(OpenCom, LocksTheSettingsInOrderThenEnablesPerModeAndResetsFlowControlWhenListening) {
    const Lines locks{"caption 211 \"Close COM\"",
                      "disable 205",
                      "disable 203",
                      "disable 204",
                      "disable 206",
                      "disable 207",
                      "disable 208",
                      "disable 209",
                      "disable 202"};
    const Lines perMode[] = {
        {"enable 217", "check 217", "uncheck 218", "enable 216", "enable 212"},
        {"enable 218", "check 218", "uncheck 217", "enable 216", "enable 212"},
        {"enable 217", "enable 218", "enable 216", "enable 212"},
        {},
        {},
    };
    for (engine::OperatingMode mode = 0; mode < 5; ++mode) {
        Lines expected = locks;
        expected.insert(expected.end(), perMode[mode].begin(), perMode[mode].end());
        EXPECT_EQ(described(OpenSucceededOps(mode)), expected) << mode;
        EXPECT_EQ(described(OpenFlowResetOps(mode)), mode >= 3 ? Lines{"select 209 #0"} : Lines{}) << mode;
    }
}

TEST(CloseComAndNotices, FollowTheirTables) {
    EXPECT_EQ(described(CloseComOps()),
              (Lines{"caption 211 \"Open COM\"", "enable 205", "enable 203", "enable 204", "enable 206",
                     "enable 207", "enable 208", "enable 209", "enable 202", "disable 217", "disable 218",
                     "disable 216", "disable 212"}));
    EXPECT_EQ(described(ReceiveExitOps()), (Lines{"caption 211 \"Open COM\""}));  // only the caption
    EXPECT_EQ(described(ModeButtonPressedOps()), (Lines{"disable 202"}));
    EXPECT_EQ(described(ModeWindowHiddenOps()), (Lines{"enable 202"}));
}

TEST(ControlModelTest, IgnoresIdsThatNoControlCarriesAndClearsASelectionOutsideTheEntries) {
    ControlModel model = mainWindowModel();
    Lines seen;
    model.setObserver([&seen](const ControlOp& op) { seen.push_back(Describe(op)); });
    model.apply({ControlOp::check(215), ControlOp::disable(220), ControlOp::check(234)});
    EXPECT_EQ(seen, (Lines{"check 234"}));
    EXPECT_FALSE(model.has(215));

    model.apply({ControlOp::addItem(205, "9600"), ControlOp::select(205, 0)});
    EXPECT_EQ(model.selection(205), 0);
    model.apply(ControlOp::select(205, 3));
    EXPECT_EQ(model.selection(205), -1);
    model.selectFromOperator(205, 0);
    EXPECT_EQ(model.selection(205), 0);
}

}  // namespace
}  // namespace ostrel::window
