// The traffic view's mouse: click, shift-click, drag (scrolling while the
// pointer is beyond the window), double-click; focus and the caret's blink.

#include <QApplication>
#include <QMouseEvent>
#include <QTimerEvent>
#include <algorithm>

#include "ui/traffic_view.h"

namespace ostrel::ui {

namespace {

constexpr int kDragScrollMs = 40;

}  // namespace

// --- Mouse -------------------------------------------------------------------

void TrafficView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint64 position = offsetAt(event->position().toPoint());
    moveCaret(position, event->modifiers() & Qt::ShiftModifier);
    preferredColumn_ = -1;
    dragging_ = true;
    lastDragPoint_ = event->position().toPoint();
    event->accept();
}

void TrafficView::dragTo(QPoint viewportPoint) {
    lastDragPoint_ = viewportPoint;
    caret_ = normalized(offsetAt(viewportPoint));
    const bool outside = viewportPoint.y() < 0 || viewportPoint.y() >= viewport()->height();
    if (outside && !dragScrollTimer_.isActive()) dragScrollTimer_.start(kDragScrollMs, this);
    if (!outside) dragScrollTimer_.stop();
    viewport()->update();
}

void TrafficView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    dragTo(event->position().toPoint());
    event->accept();
}

void TrafficView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        dragScrollTimer_.stop();
        offerPrimarySelection();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TrafficView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    selectWordAt(offsetAt(event->position().toPoint()));
    event->accept();
}

// --- Focus, caret blink and drag scrolling -------------------------------------

void TrafficView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
}

void TrafficView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blinkTimer_.stop();
    dragScrollTimer_.stop();
    dragging_ = false;
    viewport()->update();
}

void TrafficView::restartBlink() {
    caretShown_ = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0) {
        blinkTimer_.start(flash / 2, this);
    } else {
        blinkTimer_.stop();
    }
}

void TrafficView::timerEvent(QTimerEvent* event) {
    if (event->timerId() == blinkTimer_.timerId()) {
        caretShown_ = !caretShown_;
        if (isCaretVisible()) {
            const QPoint at = pointForOffset(caret_);
            viewport()->update(QRect(at.x() - 1, at.y() - rowHeight_ / 2, 3, rowHeight_));
        }
    } else if (event->timerId() == dragScrollTimer_.timerId()) {
        const int y = lastDragPoint_.y();
        const int overshoot = y < 0 ? y : y - viewport()->height() + 1;
        const qint64 rows = std::clamp<qint64>(overshoot / std::max(1, rowHeight_ / 2), -50, 50);
        scrollToRow(topRow_ + (rows == 0 ? (overshoot < 0 ? -1 : 1) : rows));
        caret_ = normalized(offsetAt(lastDragPoint_));
        viewport()->update();
    } else if (event->timerId() == rewrapTimer_.timerId()) {
        rewrapTimer_.stop();
        updateLayout();
    } else if (event->timerId() == layoutTimer_.timerId()) {
        continueLayout();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

}  // namespace ostrel::ui
