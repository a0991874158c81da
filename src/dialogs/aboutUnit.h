#pragma once

#include <QDialog>
#include <string>

class QFrame;
class QLabel;
class QTimer;

namespace tonvert {

class Shell;

// The product picture with a link to the service's web site. It serves as the splash at
// start, closing itself after a while, and as the Help menu's about box.
class TaboutForm : public QDialog {
    Q_OBJECT
public:
    TaboutForm(QWidget* owner, const std::string& webHost, Shell& shell);

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
    QFrame* bmpPanel_;
    QLabel* splashImage_;
    QLabel* wwwLabel_;
    QTimer* closeTimer_;
};

} // namespace tonvert
