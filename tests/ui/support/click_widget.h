#pragma once
// Clicking a widget as the operator would, shared by the window tests and the
// window benches.

class QWidget;

namespace ostrel::ui::test {

// Clicks a widget as the operator would: a button in its middle, a radio on
// its indicator. False when the widget is missing.
bool clickWidget(QWidget* widget);

}  // namespace ostrel::ui::test
