#include "ui/caboutbox.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QDebug>
#include <QKeyEvent>

#include "ui/cmainwin.h"
#include "ui/dialog_builder.h"
#include "ui/pictures.h"
#include "window/control_ids.h"

namespace ostrel::ui {

Caboutbox::Caboutbox(Cmainwin& mainWindow) : QWidget(nullptr), mainWindow_(&mainWindow) {
    const TemplateLoad load = LoadDialogTemplate(106);
    if (!load.dialog) {
        qWarning().noquote() << "About window:" << load.error;
        return;
    }
    const BuiltDialog built = BuildDialog(*this, *load.dialog);
    controls_ = built.byId;
    if (auto* ok = qobject_cast<QAbstractButton*>(control(window::id::kOk)))
        connect(ok, &QAbstractButton::clicked, this, &Caboutbox::OnOk);
    setWindowIcon(OstrelIcon());
    CenterOnScreen(*this);
}

QWidget* Caboutbox::control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void Caboutbox::OnWakeRequest() {
    if (mainWindow_ && mainWindow_->state().aboutOpen) return;
    finish();
}

void Caboutbox::OnOk() {
    if (mainWindow_) mainWindow_->state().aboutOpen = false;
    finish();
}

void Caboutbox::finish() {
    if (finishing_) return;
    finishing_ = true;
    hide();
    emit finished(this);
}

void Caboutbox::closeEvent(QCloseEvent* event) {
    // The window hides itself and tells its owner, as "OK" does.
    event->ignore();
    OnOk();
}

void Caboutbox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        OnOk();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace ostrel::ui
