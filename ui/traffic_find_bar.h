#pragma once
// The traffic view's Find bar: a small bar over the top right of the view
// with the text to find, Match case, Previous, Next, a line that says how the
// search went, and a close button. Enter finds the next match, Shift+Enter
// the previous one; Escape stops a running search, or else closes the bar.

#include <QFrame>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace ostrel::ui {

class TrafficFindBar : public QFrame {
    Q_OBJECT

public:
    explicit TrafficFindBar(QWidget* parent);

    QString needle() const;
    bool matchCase() const;
    void setNeedle(const QString& text);
    // Shows the bar with the text to find selected and focused.
    void open();
    // The line under the buttons: "Searching..." while a search runs.
    void setStatus(const QString& text);
    void setSearching(bool searching);
    bool isSearching() const { return searching_; }
    QString status() const;
    QLineEdit* field() const { return field_; }
    QCheckBox* matchCaseBox() const { return matchCase_; }

signals:
    void findRequested(bool backward);
    void stopRequested();
    void closed();
    void needleChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
    QCheckBox* matchCase_;
    QToolButton* previous_;
    QToolButton* next_;
    QLabel* status_;
    bool searching_ = false;
};

}  // namespace ostrel::ui
