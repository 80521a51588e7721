#include "ui/control_skin.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>

namespace ostrel::ui {

ControlSkin::ControlSkin(window::ControlModel& model, std::map<int, QWidget*> widgets)
    : model_(model), widgets_(std::move(widgets)) {
    for (const auto& [id, widget] : widgets_) {
        model_.declare(id);
        const int controlId = id;
        if (auto* list = qobject_cast<QListWidget*>(widget)) {
            connections_.push_back(
                QObject::connect(list, &QListWidget::currentRowChanged, list,
                                 [this, controlId](int row) { model_.selectFromOperator(controlId, row); }));
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            connections_.push_back(QObject::connect(
                combo, &QComboBox::currentIndexChanged, combo,
                [this, controlId](int index) { model_.selectFromOperator(controlId, index); }));
        }
    }
    model_.setObserver([this](const window::ControlOp& op) { show(op); });
}

ControlSkin::~ControlSkin() {
    for (const QMetaObject::Connection& connection : connections_) QObject::disconnect(connection);
    model_.setObserver({});
}

QWidget* ControlSkin::widget(int id) const {
    const auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
}

void ControlSkin::syncChecks() {
    for (const auto& [id, widget] : widgets_) {
        if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            const QSignalBlocker quiet(radio);
            radio->setChecked(model_.checked(id));
        }
    }
}

void ControlSkin::show(const window::ControlOp& op) {
    QWidget* target = widget(op.id);
    if (!target) return;
    const QString text = QString::fromStdString(op.text);
    switch (op.kind) {
        case window::ControlOp::Kind::Enable:
            target->setEnabled(true);
            break;
        case window::ControlOp::Kind::Disable:
            target->setEnabled(false);
            break;
        case window::ControlOp::Kind::Check:
        case window::ControlOp::Kind::Uncheck:
            if (auto* button = qobject_cast<QAbstractButton*>(target)) {
                const QSignalBlocker quiet(button);
                button->setChecked(op.kind == window::ControlOp::Kind::Check);
            }
            break;
        case window::ControlOp::Kind::SetCaption:
            if (auto* button = qobject_cast<QAbstractButton*>(target))
                button->setText(text);
            else if (auto* label = qobject_cast<QLabel*>(target))
                label->setText(text);
            break;
        case window::ControlOp::Kind::AddItem:
            if (auto* list = qobject_cast<QListWidget*>(target)) {
                const QSignalBlocker quiet(list);
                list->addItem(text);
            } else if (auto* combo = qobject_cast<QComboBox*>(target)) {
                const QSignalBlocker quiet(combo);
                combo->addItem(text);
                combo->setCurrentIndex(-1);  // a new combo box shows no entry until one is selected
            }
            break;
        case window::ControlOp::Kind::Select: {
            const int index = model_.selection(op.id);
            if (auto* list = qobject_cast<QListWidget*>(target)) {
                const QSignalBlocker quiet(list);
                list->setCurrentRow(index);
                if (index < 0) list->clearSelection();
            } else if (auto* combo = qobject_cast<QComboBox*>(target)) {
                const QSignalBlocker quiet(combo);
                combo->setCurrentIndex(index);
            }
            break;
        }
    }
}

}  // namespace ostrel::ui
