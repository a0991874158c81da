#include "closeOnSignals.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tonvert {

namespace {

int wakePipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; a full pipe already holds a wake-up.
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
}

} // namespace

CloseOnSignals::CloseOnSignals(std::function<void()> close, QObject* parent)
    : QObject(parent)
    , close_(std::move(close)) {
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
        }
        closeEverything();
    });
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

void CloseOnSignals::closeEverything() {
    if (!closing_) {
        closing_ = true;
        qApp->installEventFilter(this);
    }
    closeModalWindows();
    // The main window closes once the modal loops have returned to it.
    QTimer::singleShot(0, this, [this] { close_(); });
}

void CloseOnSignals::closeModalWindows() {
    // From the top down: hiding a modal window ends its loop and uncovers the one below.
    for (int left = 32; left > 0; --left) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        // A window that refuses its close box (a message without a safe button) still goes.
        if (modal->isVisible())
            modal->hide();
    }
}

bool CloseOnSignals::eventFilter(QObject* watched, QEvent* event) {
    // A message or dialog that opens while the program closes (the answer to the one closed
    // a moment ago) closes too, once its loop runs.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        const auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->isModal())
            QTimer::singleShot(0, this, &CloseOnSignals::closeModalWindows);
    }
    return QObject::eventFilter(watched, event);
}

CloseOnSignals::~CloseOnSignals() {
    if (closing_)
        qApp->removeEventFilter(this);
    for (const int signal : kSignals)
        ::signal(signal, SIG_DFL);
    delete notifier_;
    for (int& fd : wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace tonvert
