#pragma once
// The main window's controls at any window size. The template's size is the
// normal size; at another size the traffic window takes the difference in
// width and height, the send box (with its group box) the difference in
// width; the controls right of the send box's first quarter (inside the send
// group: those ending in its last quarter, the Send button) move right with
// the window's right edge, every control under the traffic window moves with
// the bottom edge, and the status bar spans the bottom.
//
// The smallest size keeps the template's width and leaves the traffic window
// `minTrafficHeight` pixels high.

#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace ostrel::ui {

class MainWindowLayout {
public:
    // Records the places the controls have now, in a window of `normal` size
    // whose last `statusHeight` pixels are the status bar's.
    void record(const std::vector<QWidget*>& controls, QWidget* traffic, QWidget* sendBox, QWidget* statusBar,
                QSize normal, int minTrafficHeight);

    QSize normalSize() const { return normal_; }
    QSize minimumSize() const;
    // Places every recorded control for a window of `size`.
    void apply(QSize size) const;

private:
    enum class Role { Traffic, Widening, RightSide, Bottom };
    struct Place {
        QWidget* widget;
        QRect normal;
        Role role;
    };
    std::vector<Place> places_;
    QWidget* statusBar_ = nullptr;
    QSize normal_;
    int trafficHeight_ = 0;
    int minTrafficHeight_ = 0;
};

}  // namespace ostrel::ui
