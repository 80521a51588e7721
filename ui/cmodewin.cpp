#include "ui/cmodewin.h"

#include <QCloseEvent>
#include <QDebug>
#include <QKeyEvent>

#include "ui/cmainwin.h"
#include "ui/control_skin.h"
#include "ui/dialog_builder.h"
#include "window/control_ids.h"
#include "window/window_rules.h"

namespace ostrel::ui {

Cmodewin::Cmodewin(Cmainwin& mainWindow) : QWidget(nullptr), mainWindow_(&mainWindow) {
    const TemplateLoad load = LoadDialogTemplate(105);
    if (!load.dialog) {
        // The window stays empty; the main window's requests still arrive.
        qWarning().noquote() << "Mode Select window:" << load.error;
        skin_ = std::make_unique<ControlSkin>(controls_, std::map<int, QWidget*>{});
        return;
    }
    const BuiltDialog built = BuildDialog(*this, *load.dialog);
    skin_ = std::make_unique<ControlSkin>(controls_, built.byId);
    ConnectButtonClicks(built, *this, [this](int commandId) { OnCommand(commandId); });
    CenterOnScreen(*this);
}

Cmodewin::~Cmodewin() = default;

QWidget* Cmodewin::control(int id) const {
    return skin_->widget(id);
}

void Cmodewin::OnShowRequest(engine::OperatingMode mode) {
    if (ending_) return;
    show();
    raise();
    controls_.apply(window::ControlOp::check(window::RadioForMode(mode)));
}

void Cmodewin::OnEndRequest() {
    ending_ = true;
    hide();
    emit ended();
}

void Cmodewin::OnCommand(int id) {
    switch (id) {
        case window::id::kOk:
        case window::id::kCancel:
            hideAndRelease();
            break;
        case window::id::kDteEmulationRadio:
        case window::id::kDceEmulationRadio:
        case window::id::kIntercedeRadio:
        case window::id::kHalfDuplexRadio:
        case window::id::kFullDuplexRadio:
            if (mainWindow_) mainWindow_->OnModeRadio(id, controls_);
            break;
        default:
            break;
    }
    skin_->syncChecks();
}

void Cmodewin::hideAndRelease() {
    hide();
    if (mainWindow_) mainWindow_->OnModeWindowHidden();
}

void Cmodewin::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (!ending_) hideAndRelease();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Cmodewin::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (!ending_) hideAndRelease();
}

}  // namespace ostrel::ui
