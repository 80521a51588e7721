#pragma once
// The about window (template 106): the maker's logo, the program's name and
// version, and "OK". The main window's picture button toggles it; each
// opening is a new Caboutbox. "OK", its close box and Escape close it.
//
// It lives on the GUI thread. The main window reaches it only by a queued
// call (OnWakeRequest) through a QPointer; it reaches the main window's
// about-open flag through a QPointer of its own.

#include <QPointer>
#include <QWidget>
#include <map>

namespace ostrel::ui {

class Cmainwin;

class Caboutbox : public QWidget {
    Q_OBJECT

public:
    explicit Caboutbox(Cmainwin& mainWindow);

    // The main window's wake-up after its picture button cleared the
    // about-open flag: the window finds the flag clear and closes.
    void OnWakeRequest();

    QWidget* control(int id) const;

signals:
    // The window has closed (by "OK" or by the main window's request); its
    // owner lets it go.
    void finished(Caboutbox* window);

protected:
    // The close box and Escape close the window as "OK" does.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnOk();
    void finish();

    QPointer<Cmainwin> mainWindow_;
    std::map<int, QWidget*> controls_;
    bool finishing_ = false;
};

}  // namespace ostrel::ui
