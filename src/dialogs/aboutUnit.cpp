#include "aboutUnit.h"

#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

#include "aboutPicture.h"
#include "openers.h"
#include "shell.h"
#include "textCodec.h"

namespace tonvert {

std::string programVersion() {
    return TONVERT_VERSION;
}

TaboutForm::TaboutForm(QWidget* owner, const std::string& webHost, Shell& shell, Prompts& prompts)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint)
    , shell_(shell)
    , prompts_(prompts) {
    setObjectName(QStringLiteral("aboutForm"));
    setWindowTitle(QStringLiteral("About Tonvert (TM)"));
    setFixedSize(423, 146);

    bmpPanel_ = new QFrame(this);
    bmpPanel_->setObjectName(QStringLiteral("bmpPanel"));
    bmpPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bmpPanel_->setLineWidth(1);
    bmpPanel_->setGeometry(2, 4, 419, 139);

    splashImage_ = new QLabel(bmpPanel_);
    splashImage_->setObjectName(QStringLiteral("splashImage"));
    splashImage_->setPixmap(makeAboutPicture());
    splashImage_->setGeometry(1, 1, 417, 137);

    wwwLabel_ = new QLabel(bmpPanel_);
    wwwLabel_->setObjectName(QStringLiteral("wwwLabel"));
    wwwLabel_->setText(toQString(webHost));
    wwwLabel_->setStyleSheet(QStringLiteral("color: #8fc8ff; background: transparent;"));
    QFont linkFont = wwwLabel_->font();
    linkFont.setUnderline(true);
    wwwLabel_->setFont(linkFont);
    wwwLabel_->setCursor(Qt::PointingHandCursor);
    wwwLabel_->move(4, 4);
    wwwLabel_->adjustSize();
    wwwLabel_->installEventFilter(this);
    wwwLabel_->raise();

    versionLabel_ = new QLabel(bmpPanel_);
    versionLabel_->setObjectName(QStringLiteral("versionLabel"));
    versionLabel_->setText(QStringLiteral("Version ") + toQString(programVersion()));
    versionLabel_->setStyleSheet(QStringLiteral("color: #dce6f5; background: transparent;"));
    versionLabel_->adjustSize();
    versionLabel_->move(417 - 4 - versionLabel_->width(), 4);

    closeTimer_ = new QTimer(this);
    closeTimer_->setObjectName(QStringLiteral("closeTimer"));
    closeTimer_->setSingleShot(true);
    closeTimer_->setInterval(5000);
    connect(closeTimer_, &QTimer::timeout, this, &TaboutForm::closeTimerTimer);
}

int TaboutForm::popup(int milliseconds) {
    if (milliseconds > 0) {
        closeTimer_->setInterval(milliseconds);
        closeTimer_->start();
    }
    const int result = exec();
    closeTimer_->stop();
    return result;
}

void TaboutForm::closeTimerTimer() {
    close();
}

void TaboutForm::wwwLabelClick() {
    const std::string address = "http://" + toBytes(wwwLabel_->text());
    openUrlOrSay(prompts_, shell_, address);
}

void TaboutForm::keyPressEvent(QKeyEvent* event) {
    // Any key that types a character closes the box; Shift, arrows and the like do not.
    if (!event->text().isEmpty()) {
        close();
        return;
    }
    event->ignore();
}

bool TaboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == wwwLabel_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        wwwLabelClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace tonvert
