#pragma once
// A visible focus frame for a window whose controls are placed by hand: a
// frame in the highlight colour drawn around the control that has the
// keyboard focus, over the control's edge. It follows the focus, and the
// control's moves and resizes; it takes no clicks.

#include <QPointer>
#include <QWidget>

namespace ostrel::ui {

class FocusFrame : public QWidget {
    Q_OBJECT

public:
    // A child of `window`, framing the focused control among its children.
    explicit FocusFrame(QWidget& window);

    // The control framed now (null when the focus is elsewhere).
    QWidget* framed() const { return framed_.data(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* focused);
    void place();

    QWidget& window_;
    QPointer<QWidget> framed_;
};

}  // namespace ostrel::ui
