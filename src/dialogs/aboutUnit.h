#pragma once

#include <QDialog>
#include <string>

class QFrame;
class QLabel;
class QTimer;

namespace tonvert {

class Prompts;
class Shell;

// The program's version, "0.1.0".
std::string programVersion();

// The product picture with the program's version and a link to the service's web site. It
// serves as the splash at start, closing itself after a while, and as the Help menu's about
// box. A link the browser cannot open is told through `prompts`.
class TaboutForm : public QDialog {
    Q_OBJECT
public:
    TaboutForm(QWidget* owner, const std::string& webHost, Shell& shell, Prompts& prompts);

    // Shows the box modally. A positive time closes it after that many milliseconds; 0 or
    // less leaves it until the user closes it. Gives the dialog's result.
    int popup(int milliseconds);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeTimerTimer();
    void wwwLabelClick();

    Shell& shell_;
    Prompts& prompts_;
    QFrame* bmpPanel_;
    QLabel* splashImage_;
    QLabel* wwwLabel_;
    QLabel* versionLabel_;
    QTimer* closeTimer_;
};

} // namespace tonvert
