#include "ui/traffic_find_bar.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace ostrel::ui {

TrafficFindBar::TrafficFindBar(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    field_ = new QLineEdit(this);
    field_->setPlaceholderText(QStringLiteral("Find"));
    field_->setClearButtonEnabled(true);
    field_->installEventFilter(this);
    matchCase_ = new QCheckBox(QStringLiteral("Match &case"), this);
    previous_ = new QToolButton(this);
    previous_->setText(QStringLiteral("Previous"));
    previous_->setToolTip(QStringLiteral("Find the previous match (Shift+Enter, Shift+F3)"));
    next_ = new QToolButton(this);
    next_->setText(QStringLiteral("Next"));
    next_->setToolTip(QStringLiteral("Find the next match (Enter, F3)"));
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("Close"));
    close->setToolTip(QStringLiteral("Close the Find bar (Escape)"));
    status_ = new QLabel(this);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    grid->addWidget(field_, 0, 0, 1, 2);
    grid->addWidget(previous_, 0, 2);
    grid->addWidget(next_, 0, 3);
    grid->addWidget(close, 0, 4);
    grid->addWidget(matchCase_, 1, 0);
    grid->addWidget(status_, 1, 1, 1, 4);
    field_->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 24);

    connect(previous_, &QToolButton::clicked, this, [this] { emit findRequested(true); });
    connect(next_, &QToolButton::clicked, this, [this] { emit findRequested(false); });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        emit closed();
    });
    connect(field_, &QLineEdit::textChanged, this, [this] {
        setStatus({});
        emit needleChanged();
    });
    connect(matchCase_, &QCheckBox::toggled, this, [this] { emit needleChanged(); });
}

QString TrafficFindBar::needle() const {
    return field_->text();
}

bool TrafficFindBar::matchCase() const {
    return matchCase_->isChecked();
}

void TrafficFindBar::setNeedle(const QString& text) {
    field_->setText(text);
}

void TrafficFindBar::open() {
    show();
    raise();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

void TrafficFindBar::setStatus(const QString& text) {
    status_->setText(text);
}

QString TrafficFindBar::status() const {
    return status_->text();
}

void TrafficFindBar::setSearching(bool searching) {
    searching_ = searching;
    if (searching) setStatus(QStringLiteral("Searching... (Escape stops)"));
}

bool TrafficFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            emit findRequested(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            if (searching_) {
                emit stopRequested();
            } else {
                hide();
                emit closed();
            }
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace ostrel::ui
