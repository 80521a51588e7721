#include "ui/main_window_layout.h"

#include <algorithm>

namespace ostrel::ui {

void MainWindowLayout::record(const std::vector<QWidget*>& controls, QWidget* traffic, QWidget* sendBox,
                              QWidget* statusBar, QSize normal, int minTrafficHeight) {
    places_.clear();
    normal_ = normal;
    statusBar_ = statusBar;
    trafficHeight_ = traffic ? traffic->height() : 0;
    minTrafficHeight_ = std::min(minTrafficHeight, trafficHeight_);
    const QRect send = sendBox ? sendBox->geometry() : QRect();
    QRect group = send;  // the group box around the send box
    for (QWidget* control : controls)
        if (control && control != sendBox && control->geometry().contains(send)) group = control->geometry();
    const int rightSide = send.isNull() ? normal.width() : send.left() + send.width() / 4;
    const int groupRightSide = send.isNull() ? normal.width() : send.left() + send.width() * 3 / 4;
    for (QWidget* control : controls) {
        if (!control || control == statusBar) continue;
        const QRect at = control->geometry();
        Role role = Role::Bottom;
        if (control == traffic) {
            role = Role::Traffic;
        } else if (control == sendBox || (!send.isNull() && at == group)) {
            role = Role::Widening;
        } else if (!send.isNull() && group.contains(at)) {
            // Inside the group: what ends in its last quarter (Send) goes with the right edge.
            if (at.right() >= groupRightSide) role = Role::RightSide;
        } else if (at.left() >= rightSide) {
            role = Role::RightSide;
        }
        places_.push_back({control, at, role});
    }
}

QSize MainWindowLayout::minimumSize() const {
    return {normal_.width(), normal_.height() - (trafficHeight_ - minTrafficHeight_)};
}

void MainWindowLayout::apply(QSize size) const {
    const QSize bounded = size.expandedTo(minimumSize());
    const int dx = bounded.width() - normal_.width();
    const int dy = bounded.height() - normal_.height();
    for (const Place& place : places_) {
        QRect at = place.normal;
        switch (place.role) {
            case Role::Traffic:
                at.setWidth(at.width() + dx);
                at.setHeight(at.height() + dy);
                break;
            case Role::Widening:
                at.translate(0, dy);
                at.setWidth(at.width() + dx);
                break;
            case Role::RightSide:
                at.translate(dx, dy);
                break;
            case Role::Bottom:
                at.translate(0, dy);
                break;
        }
        place.widget->setGeometry(at);
    }
    if (statusBar_) {
        const int height = statusBar_->height();
        statusBar_->setGeometry(0, bounded.height() - height, bounded.width(), height);
    }
}

}  // namespace ostrel::ui
