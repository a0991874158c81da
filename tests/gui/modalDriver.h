#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>

class QWidget;

namespace tonvert::test {

// Acts on the program's modal dialogs as a user would: each time a dialog of a known name
// comes up, its handler runs (the splash is left to the about-box closer). Dialogs of no
// known name are closed and noted, so a test never hangs on them.
class ModalDriver : public QObject {
public:
    using Handler = std::function<void(QWidget& dialog)>;
    ModalDriver();
    // The handler runs once each time the dialog of that object name shows.
    void on(const QString& name, Handler handler) { handlers_[name] = std::move(handler); }
    QStringList seen; // the dialogs met, in order

private:
    QTimer timer_;
    QWidget* current_ = nullptr;
    std::map<QString, Handler> handlers_;
};

} // namespace tonvert::test
