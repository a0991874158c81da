#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "mainState.h"

class QEvent;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace tonvert {

class TNet;

// Edits the connection settings of a TNet: proxy server, port and bypass list, time-out and
// connection attempts. Test fetches a page with the values on screen through a working copy,
// so the edited settings change only on OK. Escape and the close box leave without a change;
// during a test they stop it and the dialog closes once it has ended, without its message.
class TinternetSetupForm : public QDialog {
    Q_OBJECT
public:
    TinternetSetupForm(QWidget* owner, const Seams& seams);
    ~TinternetSetupForm() override;

    TNet* editedNet = nullptr;     // the settings being edited, during execute
    std::unique_ptr<TNet> testNet; // what a test runs on; never the edited settings
    std::string testURL;           // the page a test fetches
    bool testing = false;
    bool accepted = false; // closed with OK

    // Shows the dialog modally on `net`'s settings; true when OK wrote them back.
    bool execute(TNet& net, const std::string& testURL, int helpContext);
    // Copies the values on screen into `target`.
    void readParams(TNet& target) const;
    // Test needs a usable proxy name and port, or no proxy at all.
    void updateTestButton();

    void testBtnClick();
    void okBtnClick();
    void helpBtnClick();

    int helpContext() const { return helpContext_; }

signals:
    // The user asked for the dialog's help topic.
    void helpRequested(int context);

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Escape closes and F1 asks for help; nothing else is handled, Enter included.
    bool FormKeyPress(QKeyEvent* event);
    void fill(const TNet& net);

    Seams seams_;
    int helpContext_ = 0;
    bool closeRequested_ = false; // Escape or the close box came during a test

    QGroupBox* proxyGroupBox_;
    QLabel* serverLabel_;
    QLineEdit* serverEdit_;
    QLabel* portLabel_;
    QLineEdit* portEdit_;
    QLabel* bypassLabel_;
    QPlainTextEdit* bypassMemo_;
    QGroupBox* patienceGroupBox_;
    QLabel* timeOutLabel_;
    QSpinBox* timeOutUpDown_;
    QLabel* attemptsLabel_;
    QSpinBox* attemptsUpDown_;
    QPushButton* helpBtn_;
    QPushButton* testBtn_;
    QPushButton* okBtn_;
};

} // namespace tonvert
