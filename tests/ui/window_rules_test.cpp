// The control tables of the main window and the mode window, id by id and in
// order: initialisation, display and send radios, the five mode choices,
// Open COM per mode, Close COM and the receive-exit notice.

#include "ui/window_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/control_ids.h"

namespace ostrel::ui {
namespace {

std::vector<std::string> described(const ControlOps& ops) {
    std::vector<std::string> out;
    for (const ControlOp& op : ops) out.push_back(Describe(op));
    return out;
}

using Lines = std::vector<std::string>;

// Only the ops of the given kinds, described.
Lines only(const ControlOps& ops, std::initializer_list<ControlOp::Kind> kinds) {
    Lines out;
    for (const ControlOp& op : ops)
        for (ControlOp::Kind kind : kinds)
            if (op.kind == kind) out.push_back(Describe(op));
    return out;
}

// A model holding every control of the main window, as the template makes them.
ControlModel mainWindowModel() {
    ControlModel model;
    for (int control :
         {201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 216, 217, 218, 219, 233, 234})
        model.declare(control);
    return model;
}

engine::PortListing listingOf(std::vector<int> numbers) {
    engine::PortListing listing;
    listing.table.fill(1);
    for (int n : numbers) {
        listing.table[listing.count++] = static_cast<std::uint8_t>(n);
        listing.texts.push_back("COM" + std::to_string(n));
    }
    if (numbers.size() >= 2) {
        listing.dteSelection = 0;
        listing.dceSelection = 1;
    }
    return listing;
}

TEST(InitDialog, FillsTheSettingControlsInOrderAndSelectsTheirFirstEntry) {
    ControlModel model = mainWindowModel();
    model.apply(InitDialogOps(listingOf({1, 3, 12})));
    EXPECT_EQ(model.state(203).items, (Lines{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(model.state(204).items, (Lines{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(model.selection(203), 0);
    EXPECT_EQ(model.selection(204), 1);
    EXPECT_EQ(model.state(205).items, (Lines{"9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(model.state(206).items, (Lines{"None", "Even", "Odd", "Mark", "Space"}));
    EXPECT_EQ(model.state(207).items, (Lines{"8", "7"}));
    EXPECT_EQ(model.state(208).items, (Lines{"1", "1.5", "2"}));
    EXPECT_EQ(model.state(209).items, (Lines{"None", "Hardware", "Xon/Xoff"}));
    for (int control : {205, 206, 207, 208, 209}) EXPECT_EQ(model.selection(control), 0) << control;
}

TEST(InitDialog, ChecksHexAndToDteOnly) {
    ControlModel model = mainWindowModel();
    model.apply(InitDialogOps(listingOf({1, 2})));
    for (int control : {213, 214, 217, 218, 234})
        EXPECT_EQ(model.checked(control), control == 213 || control == 217) << control;
}

TEST(InitDialog, DisablesExactlyFiveControlsInOrder) {
    const ControlOps ops = InitDialogOps(listingOf({1, 2}));
    EXPECT_EQ(only(ops, {ControlOp::Kind::Disable, ControlOp::Kind::Enable}),
              (Lines{"disable 204", "disable 216", "disable 212", "disable 217", "disable 218"}));
}

TEST(InitDialog, WithFewerThanTwoPortsNeitherListHasASelection) {
    for (const auto& ports : {std::vector<int>{}, std::vector<int>{5}}) {
        ControlModel model = mainWindowModel();
        model.apply(InitDialogOps(listingOf(ports)));
        EXPECT_EQ(model.selection(203), -1);
        EXPECT_EQ(model.selection(204), -1);
        EXPECT_EQ(model.state(203).items.size(), ports.size());
    }
}

struct DisplayRow {
    int command;
    Lines marks;
    engine::DisplayFormat format;
};

TEST(DisplayRadios, SetThreeMarksInOrderAndTheFormat) {
    const std::vector<DisplayRow> table{
        {213, {"check 213", "uncheck 214", "uncheck 234"}, engine::kDisplayHex},
        {214, {"check 214", "uncheck 213", "uncheck 234"}, engine::kDisplayAscii},
        {234, {"check 234", "uncheck 213", "uncheck 214"}, engine::kDisplayOff},
        {215, {"check 234", "uncheck 213", "uncheck 214"}, engine::kDisplayNone},
    };
    for (const DisplayRow& row : table) {
        const auto choice = DisplayChoiceFor(row.command);
        ASSERT_TRUE(choice) << row.command;
        EXPECT_EQ(described(choice->ops), row.marks) << row.command;
        EXPECT_EQ(choice->format, row.format) << row.command;
    }
    for (int other : {212, 217, 220, 222, 0}) EXPECT_FALSE(DisplayChoiceFor(other)) << other;
}

TEST(SendRadios, SetTwoMarksAndTheTarget) {
    const auto dte = SendTargetChoiceFor(217);
    ASSERT_TRUE(dte);
    EXPECT_EQ(described(dte->ops), (Lines{"check 217", "uncheck 218"}));
    EXPECT_EQ(dte->target, engine::kToDte);
    const auto dce = SendTargetChoiceFor(218);
    ASSERT_TRUE(dce);
    EXPECT_EQ(described(dce->ops), (Lines{"check 218", "uncheck 217"}));
    EXPECT_EQ(dce->target, engine::kToDce);
    EXPECT_FALSE(SendTargetChoiceFor(213));
}

struct ModeRow {
    int radio;
    engine::OperatingMode mode;
    std::optional<engine::SendTarget> target;
    bool flowReset;
    std::string caption;
    Lines changes;
};

TEST(ModeChoices, FollowTheModeTable) {
    const std::vector<ModeRow> table{
        {227, 0, engine::kToDte, false, "DTE Emulation", {"enable 203", "disable 204", "enable 209"}},
        {228, 1, engine::kToDce, false, "DCE Emulation", {"enable 204", "disable 203", "enable 209"}},
        {229, 2, std::nullopt, false, "Intercede", {"enable 204", "enable 203", "enable 209"}},
        {230,
         3,
         std::nullopt,
         true,
         "Half Duplex",
         {"enable 203", "disable 204", "disable 217", "disable 218", "disable 209"}},
        {231,
         4,
         std::nullopt,
         true,
         "Full Duplex",
         {"enable 204", "enable 203", "disable 216", "disable 217", "disable 218", "disable 209"}},
    };
    for (const ModeRow& row : table) {
        SCOPED_TRACE(row.radio);
        const auto choice = ModeChoiceFor(row.radio);
        ASSERT_TRUE(choice);
        EXPECT_EQ(choice->mode, row.mode);
        EXPECT_EQ(choice->sendTarget, row.target);

        Lines expectedMain;
        if (row.flowReset) expectedMain.push_back("select 209 #0");
        expectedMain.push_back("caption 202 \"" + row.caption + "\"");
        expectedMain.insert(expectedMain.end(), row.changes.begin(), row.changes.end());
        EXPECT_EQ(described(choice->mainWindowOps), expectedMain);

        Lines marks;
        for (int radio : {230, 227, 228, 229, 231})
            marks.push_back((radio == row.radio ? "check " : "uncheck ") + std::to_string(radio));
        EXPECT_EQ(described(choice->modeWindowOps), marks);
    }
    EXPECT_FALSE(ModeChoiceFor(226));
    EXPECT_FALSE(ModeChoiceFor(232));
}

TEST(ModeChoices, LeaveTheSendBoxAndTheSendRadiosDisabledWhenSwitchingBack) {
    ControlModel model = mainWindowModel();
    model.apply(InitDialogOps(listingOf({1, 2})));
    model.apply(ModeChoiceFor(231)->mainWindowOps);
    model.apply(ModeChoiceFor(229)->mainWindowOps);
    EXPECT_FALSE(model.enabled(216));
    EXPECT_FALSE(model.enabled(217));
    EXPECT_FALSE(model.enabled(218));
    EXPECT_TRUE(model.enabled(203));
    EXPECT_TRUE(model.enabled(204));
    EXPECT_TRUE(model.enabled(209));
}

TEST(ModeChoices, HalfDuplexLeavesTheSendBoxAsItIs) {
    const auto ops = ModeChoiceFor(230)->mainWindowOps;
    for (const ControlOp& op : ops) EXPECT_NE(op.id, id::kSendData) << Describe(op);
}

TEST(ModeWindow, ShowsTheRadioOfTheMode) {
    EXPECT_EQ(RadioForMode(0), 227);
    EXPECT_EQ(RadioForMode(1), 228);
    EXPECT_EQ(RadioForMode(2), 229);
    EXPECT_EQ(RadioForMode(3), 230);
    EXPECT_EQ(RadioForMode(4), 231);
    EXPECT_EQ(RadioForMode(5), 229);
    EXPECT_EQ(RadioForMode(-1), 229);
}

struct OpenRow {
    engine::OperatingMode mode;
    bool toDte, toDce, sendData, send;
    std::optional<bool> dteMark;  // nullopt: marks as before
};

TEST(OpenCom, SetsTheSendingControlsPerMode) {
    const std::vector<OpenRow> table{
        {0, true, false, true, true, true},
        {1, false, true, true, true, false},
        {2, true, true, true, true, std::nullopt},
        {3, false, false, false, false, std::nullopt},
        {4, false, false, false, false, std::nullopt},
    };
    for (const OpenRow& row : table) {
        for (bool dteMarkedBefore : {true, false}) {
            SCOPED_TRACE(std::to_string(row.mode) + (dteMarkedBefore ? " dte marked" : " dce marked"));
            ControlModel model = mainWindowModel();
            model.apply(InitDialogOps(listingOf({1, 2})));
            if (!dteMarkedBefore) model.apply(SendTargetChoiceFor(218)->ops);
            model.apply(OpenSucceededOps(row.mode));
            for (int control : {202, 203, 204, 205, 206, 207, 208, 209})
                EXPECT_FALSE(model.enabled(control)) << control;
            EXPECT_EQ(model.enabled(217), row.toDte);
            EXPECT_EQ(model.enabled(218), row.toDce);
            EXPECT_EQ(model.enabled(216), row.sendData);
            EXPECT_EQ(model.enabled(212), row.send);
            const bool dteMark = row.dteMark.value_or(dteMarkedBefore);
            EXPECT_EQ(model.checked(217), dteMark);
            EXPECT_EQ(model.checked(218), !dteMark);
            EXPECT_EQ(model.state(211).caption, "Close COM");
            for (int control : {201, 210, 211, 213, 214, 219, 233, 234})
                EXPECT_TRUE(model.enabled(control)) << control;
        }
    }
}

TEST(OpenCom, LocksTheSettingsInOrderThenEnablesPerMode) {
    const Lines locks{"disable 205", "disable 203", "disable 204", "disable 206",
                      "disable 207", "disable 208", "disable 209", "disable 202"};
    const std::vector<std::pair<engine::OperatingMode, Lines>> table{
        {0, {"enable 217", "check 217", "uncheck 218", "enable 216", "enable 212"}},
        {1, {"enable 218", "check 218", "uncheck 217", "enable 216", "enable 212"}},
        {2, {"enable 217", "enable 218", "enable 216", "enable 212"}},
        {3, {}},
        {4, {}},
    };
    for (const auto& [mode, rest] : table) {
        Lines expected{"caption 211 \"Close COM\""};
        expected.insert(expected.end(), locks.begin(), locks.end());
        expected.insert(expected.end(), rest.begin(), rest.end());
        EXPECT_EQ(described(OpenSucceededOps(mode)), expected) << mode;
    }
}

TEST(OpenCom, ResetsTheFlowControlOnlyWhenListening) {
    for (engine::OperatingMode mode : {0, 1, 2}) EXPECT_TRUE(OpenFlowResetOps(mode).empty()) << mode;
    for (engine::OperatingMode mode : {3, 4})
        EXPECT_EQ(described(OpenFlowResetOps(mode)), (Lines{"select 209 #0"}));
}

TEST(CloseCom, UnlocksEverySettingWhateverTheModeAndDisablesTheSendingControls) {
    EXPECT_EQ(described(CloseComOps()),
              (Lines{"caption 211 \"Open COM\"", "enable 205", "enable 203", "enable 204", "enable 206",
                     "enable 207", "enable 208", "enable 209", "enable 202", "disable 217", "disable 218",
                     "disable 216", "disable 212"}));
}

TEST(ReceiveExit, OnlyTheCaptionChanges) {
    EXPECT_EQ(described(ReceiveExitOps()), (Lines{"caption 211 \"Open COM\""}));
}

TEST(ModeButton, IsDisabledWhenPressedAndEnabledWhenTheWindowHides) {
    EXPECT_EQ(described(ModeButtonPressedOps()), (Lines{"disable 202"}));
    EXPECT_EQ(described(ModeWindowHiddenOps()), (Lines{"enable 202"}));
}

TEST(ControlModelTest, IgnoresOpsOnIdsThatNoControlCarries) {
    ControlModel model = mainWindowModel();
    std::vector<std::string> seen;
    model.setObserver([&seen](const ControlOp& op) { seen.push_back(Describe(op)); });
    model.apply({ControlOp::check(215), ControlOp::disable(220), ControlOp::check(234)});
    EXPECT_EQ(seen, (Lines{"check 234"}));
    EXPECT_FALSE(model.has(215));
}

TEST(ControlModelTest, ASelectionOutsideTheEntriesClearsIt) {
    ControlModel model = mainWindowModel();
    model.apply({ControlOp::addItem(205, "9600"), ControlOp::select(205, 0)});
    EXPECT_EQ(model.selection(205), 0);
    model.apply(ControlOp::select(205, 3));
    EXPECT_EQ(model.selection(205), -1);
    model.selectFromOperator(205, 0);
    EXPECT_EQ(model.selection(205), 0);
}

}  // namespace
}  // namespace ostrel::ui
