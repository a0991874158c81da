#include "accountEntryForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "asciiText.h"
#include "textCodec.h"

namespace tonvert {

namespace {

constexpr int kClientWidth = 529;

} // namespace

AccountEntryForm::AccountEntryForm(QWidget* owner, const Names& names,
                                   std::initializer_list<Explanation> explanations)
    : QDialog(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QString::fromLatin1(names.form));
    setWindowTitle(QString::fromLatin1(names.caption));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setHorizontalSpacing(5);
    auto* label = new QLabel(QString::fromLatin1(names.labelText), this);
    label->setObjectName(QString::fromLatin1(names.label));
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QString::fromLatin1(names.edit));
    label->setBuddy(edit_);
    layout->addWidget(label, 0, 0);
    layout->addWidget(edit_, 0, 1);
    if (names.secret) {
        // Someone may be looking over the user's shoulder: the text shows only when asked.
        edit_->setEchoMode(QLineEdit::Password);
        auto* show = new QCheckBox(QStringLiteral("&Show"), this);
        show->setObjectName(QStringLiteral("showPasswordCheckBox"));
        // Tab goes from the password straight to the button; Alt+S reaches the box.
        show->setFocusPolicy(Qt::ClickFocus);
        show->setToolTip(QStringLiteral("Show the password as typed"));
        connect(show, &QCheckBox::toggled, edit_, [this](bool shown) {
            edit_->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
        });
        layout->addWidget(show, 0, 2);
    }
    const int columns = layout->columnCount();
    int row = 1;
    for (const Explanation& explanation : explanations) {
        auto* text = new QLabel(QString::fromLatin1(explanation.text), this);
        text->setObjectName(QString::fromLatin1(explanation.name));
        layout->addWidget(text, row++, 0, 1, columns);
    }
    button_ = new QPushButton(QString::fromLatin1(names.buttonCaption), this);
    button_->setObjectName(QString::fromLatin1(names.button));
    // Enter does not submit: the user clicks.
    button_->setAutoDefault(false);
    button_->setDefault(false);
    button_->setEnabled(false);
    layout->addWidget(button_, row, 0, 1, columns);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(kClientWidth);
}

bool AccountEntryForm::submit(const std::function<bool(const std::string&)>& handler) {
    if (submitting_ || !handler)
        return false;
    submitting_ = true;
    edit_->setEnabled(false);
    button_->setEnabled(false);
    const bool accepted = handler(trimmedText());
    submitting_ = false;
    edit_->setEnabled(true);
    button_->setEnabled(true);
    return accepted;
}

void AccountEntryForm::reject() {
    if (!submitting_)
        QDialog::reject();
}

std::string AccountEntryForm::trimmedText() const {
    return std::string(ascii::trimmed(toBytes(edit_->text())));
}

} // namespace tonvert
