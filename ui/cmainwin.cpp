#include "ui/cmainwin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "ui/caboutbox.h"
#include "ui/cmodewin.h"
#include "ui/control_skin.h"
#include "ui/dialog_builder.h"
#include "ui/focus_frame.h"
#include "ui/pictures.h"
#include "ui/status_bar.h"
#include "ui/traffic_view.h"
#include "window/control_ids.h"

namespace ostrel::ui {

namespace {

const QColor kSendDataTextColour(0, 0, 255);

}  // namespace

Cmainwin::Cmainwin(engine::Engine& engine)
    : QWidget(nullptr),
      engine_(engine),
      formatter_(*this, state_.capture),
      commands_(state_, controls_, engine_, *this, formatter_) {
    displayQueue_.setNotify([this] { scheduleDrain(); });
    // A capture that a failed write ended puts the button back to "Capture".
    state_.capture.setEndedNotify([this] {
        QMetaObject::invokeMethod(
            this, [this] { commands_.CaptureEnded(); }, Qt::QueuedConnection);
    });
    engine_.InitEngine(*this, formatter_);
}

Cmainwin::~Cmainwin() {
    // Release a pump that waits for room in the display queue, then stop and
    // join every worker while everything they use still exists.
    displayQueue_.close();
    state_.capture.ReleaseWaits();
    engine_.ShutdownEngine();
    // The capture's writer is joined here, so it never posts to a window in destruction.
    state_.capture.setEndedNotify({});
    state_.capture.Close(*this);
    modeWindowOwner_.reset();
    aboutWindowOwner_.reset();
}

bool Cmainwin::Create(QString* error) {
    const TemplateLoad load = LoadDialogTemplate(102);
    if (!load.dialog) {
        if (error) *error = load.error;
        return false;
    }
    const WidgetMaker maker = [](const ControlTemplate& control, QWidget* parent) -> QWidget* {
        if (control.id == window::id::kTraffic) return new TrafficView(parent);
        return nullptr;
    };
    const BuiltDialog built = BuildDialog(*this, *load.dialog, maker);
    skin_ = std::make_unique<ControlSkin>(controls_, built.byId);
    traffic_ = qobject_cast<TrafficView*>(control(window::id::kTraffic));
    ConnectButtonClicks(built, *this, [this](int commandId) { OnCommand(commandId); });
    setWindowIcon(OstrelIcon());

    // Tab moves the focus out of the send box; Ctrl+Tab types a TAB there.
    if (auto* sendBox = qobject_cast<QPlainTextEdit*>(control(window::id::kSendData))) {
        sendBox->setTabChangesFocus(true);
        sendBox->installEventFilter(this);
    }
    focusFrame_ = new FocusFrame(*this);

    // The status bar goes under the template's controls; the window may then
    // be resized and maximised, the template's size plus the bar being its
    // normal size.
    const QSize templateSize = size();
    statusBar_ = new StatusBar(this);
    const QSize normal(templateSize.width(), templateSize.height() + statusBar_->height());
    statusBar_->setGeometry(0, templateSize.height(), normal.width(), statusBar_->height());
    layout_.record(built.widgets, traffic_, control(window::id::kSendData), statusBar_, normal,
                   traffic_ ? traffic_->heightForRows(kMinTrafficRows) : 0);
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    setMinimumSize(layout_.minimumSize());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(normal);
    fitToScreen();
    connect(&statusTimer_, &QTimer::timeout, this, [this] { refreshStatus(); });
    statusTimer_.start(kStatusPollMs);

    OnInitDialog();
    refreshStatus();
    return true;
}

// The normal size where the screen has room for it (centred, as the template
// asks); otherwise the screen's available height, with the traffic window
// smaller so that every control stays on the screen.
void Cmainwin::fitToScreen() {
    QScreen* screen = this->screen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    // The window manager's title bar and frame are not known before the
    // window is shown: the style's title bar height stands in for them.
    const int decoration = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
    const QSize room(available.width(), available.height() - decoration);
    if (layout_.normalSize().height() <= room.height() && layout_.normalSize().width() <= room.width()) {
        CenterOnScreen(*this);
        return;
    }
    resize(layout_.normalSize().boundedTo(room).expandedTo(minimumSize()));
    const int left = available.left() + std::max(0, (available.width() - width()) / 2);
    move(left, available.top());
}

void Cmainwin::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layout_.apply(size());
}

bool Cmainwin::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == control(window::id::kSendData)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool control = key->modifiers() & Qt::ControlModifier;
        if (control && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (QWidget* send = this->control(window::id::kSend); send && send->isEnabled())
                OnCommand(window::id::kSend);
            return true;
        }
        if (control && key->key() == Qt::Key_Tab) {
            if (auto* box = qobject_cast<QPlainTextEdit*>(watched))
                box->insertPlainText(QStringLiteral("\t"));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Cmainwin::refreshStatus() {
    if (!statusBar_) return;
    StatusFacts facts;
    facts.mode = state_.mode.load();
    for (const int side : {engine::kDteSide, engine::kDceSide}) {
        engine::Engine::SideReading reading = engine_.readSide(side);
        if (!reading.open) continue;
        SideStatus status;
        status.side = side == engine::kDteSide ? "DTE" : "DCE";
        status.settings = side == engine::kDteSide ? state_.config.dte : state_.config.dce;
        status.portNumber = status.settings.portNumber;
        status.bytesReceived = reading.bytesReceived;
        status.lineErrors = reading.lineErrors;
        // Without the live part (no port, or the relay held it), the path comes from the port map.
        if (reading.live) {
            status.path = std::move(reading.live->path);
            status.modemLines = reading.live->modemLines;
        } else if (const platform::PortEntry* entry = engine_.ports().find(status.portNumber)) {
            status.path = entry->path;
        }
        facts.openSides.push_back(std::move(status));
    }
    if (state_.capture.active()) {
        const std::string name = state_.capture.fileName();
        facts.captureFile = name;
        std::error_code error;
        if (std::filesystem::is_regular_file(name, error)) {
            const auto bytes = std::filesystem::file_size(name, error);
            if (!error) facts.captureBytes = bytes;
        }
    }
    statusBar_->show(facts);
}

QWidget* Cmainwin::control(int id) const {
    return skin_ ? skin_->widget(id) : nullptr;
}

Cmodewin* Cmainwin::modeWindow() const {
    return modeWindow_.data();
}

Caboutbox* Cmainwin::aboutWindow() const {
    return aboutWindow_.data();
}

// ---------------------------------------------------------------------------
// Window link

void Cmainwin::postDataReady(int side) {
    QMetaObject::invokeMethod(
        this, [this, side] { OnDataReady(side); }, Qt::QueuedConnection);
}

void Cmainwin::postReceiveExit(const engine::ReceiveExitNotice& notice) {
    QMetaObject::invokeMethod(
        this, [this, notice] { OnReceiveExit(notice); }, Qt::QueuedConnection);
}

void Cmainwin::appendText(std::string_view text) {
    // The GUI thread must never wait for itself; only the pump may be held
    // by the backlog bound.
    if (QThread::currentThread() == thread())
        displayQueue_.appendUnbounded(text);
    else
        displayQueue_.append(text);
}

void Cmainwin::appendStatusText(std::string_view text) {
    displayQueue_.appendUnbounded(text);
}

void Cmainwin::setAppendsUnbounded(bool unbounded) {
    displayQueue_.setUnbounded(unbounded);
}

void Cmainwin::scheduleDrain() {
    QMetaObject::invokeMethod(
        this, [this] { drainTraffic(); }, Qt::QueuedConnection);
}

void Cmainwin::drainTraffic() {
    const std::string batch = displayQueue_.take(kTrafficBatchBytes);
    if (!batch.empty() && traffic_) traffic_->appendText(batch);
    // More than one batch waits: go on after the events queued meanwhile.
    if (displayQueue_.backlog() > 0) scheduleDrain();
}

void Cmainwin::flushTraffic() {
    for (std::string batch = displayQueue_.take(); !batch.empty(); batch = displayQueue_.take())
        if (traffic_) traffic_->appendText(batch);
}

// ---------------------------------------------------------------------------
// Handlers

void Cmainwin::OnInitDialog() {
    // The traffic window is never trimmed (TrafficView has no limit), and the
    // picture button already shows bitmap 206 (the template builder put it on).
    commands_.InitDialog();
    // The mode window exists, hidden, for the whole run.
    modeWindowOwner_ = std::make_unique<Cmodewin>(*this);
    modeWindow_ = modeWindowOwner_.get();
    connect(modeWindow_, &Cmodewin::ended, this, [this] { endModeWindow(); });
    engine_.StartPump();
    OnTextColor();
    if (QWidget* openButton = control(window::id::kOpenClose)) openButton->setFocus();
}

void Cmainwin::OnCommand(int id) {
    switch (id) {
        case window::id::kOpenClose:
            OnOpenClose();
            break;
        case window::id::kExit:
            OnExit();
            break;
        case window::id::kSend:
            OnSend();
            break;
        case window::id::kHex:
            OnDisplayHex();
            break;
        case window::id::kAscii:
            OnDisplayAscii();
            break;
        case window::id::kDisplayNoneCommand:
            OnDisplayNone();
            break;
        case window::id::kCapture:
            OnCapture();
            break;
        case window::id::kToDce:
            OnSendToDce();
            break;
        case window::id::kToDte:
            OnSendToDte();
            break;
        case window::id::kModeButton:
            OnModeButton();
            break;
        case window::id::kPictureButton:
            OnAboutButton();
            break;
        case window::id::kOff:
            OnDisplayOff();
            break;
        default:
            break;  // 220, 222 and any other id: nothing
    }
    // Radio marks show what the commands set, not what the click toggled.
    if (skin_) skin_->syncChecks();
}

void Cmainwin::OnOpenClose() {
    // Opening a port on another machine may wait for its server (3 s at most).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    commands_.OpenClose();
    QApplication::restoreOverrideCursor();
}

void Cmainwin::OnSend() {
    auto* box = qobject_cast<QPlainTextEdit*>(control(window::id::kSendData));
    if (!box) return;
    // Line breaks as typed in an edit box: CR LF. Characters outside Latin-1 become '?'.
    QString text = box->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    const QByteArray bytes = text.toLatin1();
    commands_.Send(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void Cmainwin::OnCapture() {
    commands_.Capture([this] { return captureDialog_ ? captureDialog_() : showCaptureDialog(); });
}

std::string Cmainwin::showCaptureDialog() {
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Capture to file..."), QString(),
                                                      QStringLiteral("Capture data (*.txt)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    return QFile::encodeName(name).toStdString();
}

void Cmainwin::OnDisplayHex() {
    commands_.DisplayCommand(window::id::kHex);
}
void Cmainwin::OnDisplayAscii() {
    commands_.DisplayCommand(window::id::kAscii);
}
void Cmainwin::OnDisplayOff() {
    commands_.DisplayCommand(window::id::kOff);
}
void Cmainwin::OnDisplayNone() {
    commands_.DisplayCommand(window::id::kDisplayNoneCommand);
}
void Cmainwin::OnSendToDte() {
    commands_.SendTargetCommand(window::id::kToDte);
}
void Cmainwin::OnSendToDce() {
    commands_.SendTargetCommand(window::id::kToDce);
}

void Cmainwin::OnModeButton() {
    // No mode window to ask (it has gone): the press is ignored.
    if (!modeWindow_) return;
    commands_.ModeButton();
    const engine::OperatingMode current = state_.mode.load();
    QPointer<Cmodewin> target = modeWindow_;
    QMetaObject::invokeMethod(
        target.data(),
        [target, current] {
            if (target) target->OnShowRequest(current);
        },
        Qt::QueuedConnection);
}

void Cmainwin::OnAboutButton() {
    if (state_.aboutOpen) {
        state_.aboutOpen = false;
        // Wake the open window; it finds the flag clear and closes. A window
        // that is not there (any more) is not asked.
        if (QPointer<Caboutbox> target = aboutWindow_) {
            QMetaObject::invokeMethod(
                target.data(),
                [target] {
                    if (target) target->OnWakeRequest();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    // A window of an earlier opening that has not finished closing yet.
    releaseAboutWindow();
    state_.aboutOpen = true;
    aboutWindowOwner_ = std::make_unique<Caboutbox>(*this);
    aboutWindow_ = aboutWindowOwner_.get();
    connect(aboutWindow_, &Caboutbox::finished, this, [this](Caboutbox* window) {
        if (aboutWindowOwner_.get() == window) releaseAboutWindow();
    });
    aboutWindow_->show();
}

void Cmainwin::releaseAboutWindow() {
    if (!aboutWindowOwner_) return;
    aboutWindowOwner_->hide();
    // It may be inside one of its own slots: let the event loop delete it.
    aboutWindowOwner_.release()->deleteLater();
    aboutWindow_.clear();
}

void Cmainwin::endModeWindow() {
    if (!modeWindowOwner_) return;
    modeWindowOwner_.release()->deleteLater();
    modeWindow_.clear();
}

void Cmainwin::OnTextColor() {
    // The send box's text in blue while it is enabled (the disabled state
    // keeps the style's grey); its background stays the style's. The traffic
    // window brings its own green on white (TrafficView).
    auto* sendBox = control(window::id::kSendData);
    if (!sendBox) return;
    QPalette palette = sendBox->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Text, kSendDataTextColour);
    sendBox->setPalette(palette);
}

void Cmainwin::OnReceiveExit(const engine::ReceiveExitNotice& notice) {
    commands_.ReceiveExit(notice);
}

void Cmainwin::OnDataReady(int /*side*/) {
    engine_.SignalPump();
}

void Cmainwin::OnClose() {
    // Like "Exit", the close box also closes the open ports.
    commands_.Exit();
    if (QPointer<Cmodewin> target = modeWindow_)
        QMetaObject::invokeMethod(
            target.data(),
            [target] {
                if (target) target->OnEndRequest();
            },
            Qt::QueuedConnection);
    emit quitRequested();
}

void Cmainwin::OnExit() {
    OnClose();
}

void Cmainwin::OnModeRadio(int radioId, window::ControlModel& modeWindowControls) {
    commands_.ChooseMode(radioId, modeWindowControls);
    if (skin_) skin_->syncChecks();
}

void Cmainwin::OnModeWindowHidden() {
    commands_.ModeWindowHidden();
}

void Cmainwin::ApplyStartChoices(const window::StartChoices& choices) {
    window::ControlModel scratch;  // marks of a mode window that is not there
    commands_.ApplyStartChoices(choices, modeWindow_ ? modeWindow_->controls() : scratch);
}

void Cmainwin::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnClose();
}

}  // namespace ostrel::ui
