#include "qtPrompts.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QShortcut>

#include "textCodec.h"

namespace tonvert {

namespace {

QMessageBox::Icon iconOf(PromptKind kind) {
    switch (kind) {
    case PromptKind::error:
        return QMessageBox::Critical;
    case PromptKind::information:
        return QMessageBox::Information;
    case PromptKind::confirmation:
        return QMessageBox::Question;
    case PromptKind::warning:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

QString defaultCaption(PromptKind kind) {
    switch (kind) {
    case PromptKind::error:
        return QStringLiteral("Error");
    case PromptKind::information:
        return QStringLiteral("Information");
    case PromptKind::confirmation:
        return QStringLiteral("Confirm");
    case PromptKind::warning:
        return QStringLiteral("Warning");
    }
    return {};
}

QMessageBox::StandardButtons buttonsOf(PromptButtons buttons) {
    switch (buttons) {
    case PromptButtons::ok:
        return QMessageBox::Ok;
    case PromptButtons::yesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::okAbort:
        return QMessageBox::Ok | QMessageBox::Abort;
    case PromptButtons::yesNoAbort:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort;
    }
    return QMessageBox::Ok;
}

// A box over any other window would hide behind a modal dialog, and one parented to a window
// that a modal dialog blocks could not be reached.
QWidget* ownerWindow(QWidget* fallback) {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return fallback;
}

} // namespace

PromptAnswer QtPrompts::show(PromptKind kind, const std::string& caption, const std::string& text,
                             PromptButtons buttons) {
    QMessageBox box(iconOf(kind), caption.empty() ? defaultCaption(kind) : toQString(caption),
                    toQString(text), buttonsOf(buttons), ownerWindow(parent_));
    // Ctrl+C copies the caption and the message, to be pasted into a note or a mail to
    // support; the toolkit does it on one platform only.
    const auto* copy = new QShortcut(QKeySequence::Copy, &box);
    QObject::connect(copy, &QShortcut::activated, &box, [&box] {
        QGuiApplication::clipboard()->setText(box.windowTitle() + QStringLiteral("\n\n") +
                                              box.text() + QStringLiteral("\n"));
    });
    switch (box.exec()) {
    case QMessageBox::Ok:
        return PromptAnswer::ok;
    case QMessageBox::Yes:
        return PromptAnswer::yes;
    case QMessageBox::No:
        return PromptAnswer::no;
    case QMessageBox::Abort:
        return PromptAnswer::abort;
    default:
        // Closing a box without choosing answers as its safest button.
        return buttons == PromptButtons::ok      ? PromptAnswer::ok
               : buttons == PromptButtons::yesNo ? PromptAnswer::no
                                                 : PromptAnswer::abort;
    }
}

} // namespace tonvert
