// The traffic view's Find and Save Text As: both run on a thread of their own
// over a snapshot of the text and report back on the GUI thread.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressDialog>
#include <QScrollBar>

#include "ui/traffic_find_bar.h"
#include "ui/traffic_view.h"
#include "window/traffic_text_export.h"
#include "window/traffic_text_search.h"

namespace ostrel::ui {

namespace {

constexpr qint64 kFindBarSelectionLimit = 256;
constexpr int kFindBarMargin = 4;

}  // namespace

void TrafficView::setSpill(window::TrafficTextStore::SpillOpener open, qint64 residentBytes) {
    store_.setSpill(std::move(open), residentBytes);
}

void TrafficView::tell(const QString& title, const QString& text) const {
    auto* self = const_cast<TrafficView*>(this);
    if (notice_) {
        notice_(self, title, text);
        return;
    }
    // Not modal: the traffic goes on while the box is shown.
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, self);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// Says once per reason why the text stays in memory (or was not read back).
void TrafficView::tellSpillProblem() {
    toldSpillProblem_ = store_.spillProblem();
    if (toldSpillProblem_.empty()) return;
    QString text = QString::fromStdString(toldSpillProblem_);
    text[0] = text[0].toUpper();
    tell(QStringLiteral("Traffic window"), text + QStringLiteral("."));
}

// Refuses (with a beep) an edit that would change text kept in the file.
bool TrafficView::refusesEditAt(qint64 from) {
    if (from >= store_.editableFrom()) return false;
    QApplication::beep();
    return true;
}

// --- Find ----------------------------------------------------------------------

void TrafficView::placeFindBar() {
    if (!findBar_) return;
    const QSize wanted = findBar_->sizeHint();
    const QRect area = viewport()->geometry();
    const int width = std::min(wanted.width(), area.width() - 2 * kFindBarMargin);
    findBar_->setGeometry(area.right() - width - kFindBarMargin, area.top() + kFindBarMargin, width,
                          wanted.height());
}

void TrafficView::showFindBar() {
    if (!findBar_) {
        findBar_ = new TrafficFindBar(this);
        connect(findBar_, &TrafficFindBar::findRequested, this,
                [this](bool backward) { findNext(backward); });
        connect(findBar_, &TrafficFindBar::stopRequested, this, [this] { stopFinding(); });
        connect(findBar_, &TrafficFindBar::closed, this, [this] {
            stopFinding();
            setFocus(Qt::OtherFocusReason);
            viewport()->update();
        });
        connect(findBar_, &TrafficFindBar::needleChanged, this, [this] { viewport()->update(); });
    }
    const qint64 from = std::min(anchor_, caret_);
    const qint64 count = std::max(anchor_, caret_) - from;
    if (count > 0 && count <= kFindBarSelectionLimit) {
        const std::string selected = store_.read(from, count);
        if (selected.find_first_of("\r\n") == std::string::npos) {
            findBar_->setNeedle(
                QString::fromLatin1(selected.data(), static_cast<qsizetype>(selected.size())));
        }
    }
    placeFindBar();
    findBar_->open();
    viewport()->update();
}

void TrafficView::stopFinding() {
    if (findRunning_) findWorker_.request_stop();
}

void TrafficView::findNext(bool backward) {
    if (!findBar_ || findBar_->needle().isEmpty() || findRunning_) return;
    startFind(backward, 1);
}

// Starts at the selection: forward just after its start (so that a selected
// match finds the next one), backward before its start.
void TrafficView::startFind(bool backward, int retries) {
    const QByteArray needle = findBar_->needle().toLatin1();
    window::TextQuery query{std::string(needle.constData(), static_cast<std::size_t>(needle.size())),
                            findBar_->matchCase()};
    const qint64 selectionStart = std::min(anchor_, caret_);
    const qint64 from = backward ? selectionStart : (hasSelection() ? selectionStart + 1 : caret_);
    const std::uint64_t generation = ++findGeneration_;
    findRunning_ = true;
    findBar_->setSearching(true);
    findWorker_ = std::jthread([this, snapshot = store_.snapshot(), query = std::move(query), from, backward,
                                generation, retries](std::stop_token stop) {
        const window::SearchOutcome found = window::findInText(snapshot, query, from, backward, stop);
        QMetaObject::invokeMethod(
            this,
            [this, found, generation, backward, retries] {
                finishFind(generation, found.match, found.wrapped, found.stopped,
                           QString::fromStdString(found.error), backward, retries);
            },
            Qt::QueuedConnection);
    });
}

void TrafficView::finishFind(std::uint64_t generation, qint64 match, bool wrapped, bool stopped,
                             const QString& error, bool backward, int retries) {
    if (generation != findGeneration_) return;
    findRunning_ = false;
    if (!findBar_) return;
    findBar_->setSearching(false);
    if (stopped) {
        findBar_->setStatus(QStringLiteral("Search stopped"));
        return;
    }
    if (!error.isEmpty()) {
        findBar_->setStatus(error);
        return;
    }
    if (match < 0) {
        findBar_->setStatus(QStringLiteral("Not found"));
        return;
    }
    const QByteArray needle = findBar_->needle().toLatin1();
    const std::string there = store_.read(match, needle.size());
    const bool stillThere =
        static_cast<qsizetype>(there.size()) == needle.size() &&
        window::equalBytes(there.data(), needle.constData(), there.size(), findBar_->matchCase());
    if (!stillThere) {
        // The operator changed the text (or cleared it) while the search ran.
        if (retries > 0) {
            startFind(backward, retries - 1);
        } else {
            findBar_->setStatus(QStringLiteral("The text changed; search again"));
        }
        return;
    }
    setSelection(match, match + needle.size());
    findBar_->setStatus(wrapped ? (backward ? QStringLiteral("Continued from the end")
                                            : QStringLiteral("Continued from the start"))
                                : QString());
}

TrafficView::Spans TrafficView::matchesBetween(qint64 from, qint64 to) const {
    Spans spans;
    if (!findBar_ || !findBar_->isVisible() || findBar_->needle().isEmpty()) return spans;
    const QByteArray needle = findBar_->needle().toLatin1();
    const qint64 start = std::max<qint64>(0, from - needle.size() + 1);
    const std::string shown = store_.read(start, to + needle.size() - 1 - start);
    window::TextQuery query{std::string(needle.constData(), static_cast<std::size_t>(needle.size())),
                            findBar_->matchCase()};
    window::forEachMatch(shown, query, [&](std::size_t at) {
        spans.emplace_back(start + static_cast<qint64>(at), start + static_cast<qint64>(at) + needle.size());
    });
    return spans;
}

// --- Save Text As ----------------------------------------------------------------

void TrafficView::saveTextAs() {
    if (saveRunning_) return;
    QString path;
    if (saveFileQuestion_) {
        path = saveFileQuestion_(this);
    } else {
        // The dialog does not offer to overwrite: Ostrel writes only new files.
        path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Text As"), QDir::homePath(),
                                            QStringLiteral("Text files (*.txt);;All files (*)"), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    }
    if (path.isEmpty()) return;
    QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        tell(QStringLiteral("Save Text As"),
             QStringLiteral("%1 already exists.\nOstrel saves the traffic window's text only to a new file: "
                            "choose another name.")
                 .arg(path));
        return;
    }
    saveRunning_ = true;
    const qint64 total = store_.size();
    auto* progress = new QProgressDialog(QStringLiteral("Saving the traffic window's text to %1").arg(path),
                                         QStringLiteral("Stop"), 0, 1000, this);
    progress->setWindowTitle(QStringLiteral("Save Text As"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setMinimumDuration(300);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    saveProgress_ = progress;
    connect(progress, &QProgressDialog::canceled, this, [this] { saveWorker_.request_stop(); });
    const std::string file = QFile::encodeName(path).toStdString();
    saveWorker_ = std::jthread([this, snapshot = store_.snapshot(), file, path, total](std::stop_token stop) {
        int shown = -1;
        const window::SaveOutcome saved = window::saveTextAs(snapshot, file, stop, [&](std::int64_t done) {
            const int permille = total > 0 ? static_cast<int>(done * 1000 / total) : 1000;
            if (permille == shown) return;
            shown = permille;
            QMetaObject::invokeMethod(
                this,
                [this, permille] {
                    if (saveProgress_) saveProgress_->setValue(permille);
                },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this,
            [this, path, saved] {
                finishSave(path, saved.complete(), saved.stopped, QString::fromStdString(saved.error));
            },
            Qt::QueuedConnection);
    });
}

void TrafficView::finishSave(const QString& path, bool complete, bool stopped, const QString& error) {
    saveRunning_ = false;
    if (saveProgress_) saveProgress_->close();
    if (complete) return;
    tell(QStringLiteral("Save Text As"), stopped
                                             ? QStringLiteral("Saving stopped; %1 was not kept.").arg(path)
                                             : QStringLiteral("The text was not saved: %1").arg(error));
}

}  // namespace ostrel::ui
