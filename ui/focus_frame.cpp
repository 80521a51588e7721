#include "ui/focus_frame.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace ostrel::ui {

namespace {

constexpr int kWidth = 2;  // pixels of frame, drawn just outside the control

}  // namespace

FocusFrame::FocusFrame(QWidget& window) : QWidget(&window), window_(window) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
}

// The control of the window that holds `focused` (a combo box's inner parts
// count as the combo box).
void FocusFrame::follow(QWidget* focused) {
    QWidget* control = focused;
    while (control && control->parentWidget() != &window_) control = control->parentWidget();
    if (control == this) control = nullptr;
    if (framed_ != control) {
        if (framed_) framed_->removeEventFilter(this);
        framed_ = control;
        if (framed_) framed_->installEventFilter(this);
    }
    place();
}

void FocusFrame::place() {
    if (!framed_ || !framed_->isVisible()) {
        hide();
        return;
    }
    setGeometry(framed_->geometry().adjusted(-kWidth, -kWidth, kWidth, kWidth));
    raise();
    show();
    update();
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == framed_) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
                place();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Active, QPalette::Highlight), kWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0));
}

}  // namespace ostrel::ui
