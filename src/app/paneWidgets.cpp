#include "paneWidgets.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>
#include <QToolButton>

namespace tonvert {

QIcon glyphIcon(const QStyle* style, QStyle::StandardPixmap glyph) {
    constexpr double kDisabledOpacity = 0.35;
    const QIcon standard = style->standardIcon(glyph);
    QIcon icon;
    for (const int side : {16, 22, 24, 32}) {
        const QPixmap normal = standard.pixmap(side, side);
        QStyleOption option;
        const QPixmap grey = style->generatedIconPixmap(QIcon::Disabled, normal, &option);
        QPixmap faded(grey.size());
        faded.setDevicePixelRatio(grey.devicePixelRatio());
        faded.fill(Qt::transparent);
        QPainter painter(&faded);
        painter.setOpacity(kDisabledOpacity);
        painter.drawPixmap(0, 0, grey);
        painter.end();
        icon.addPixmap(normal, QIcon::Normal);
        icon.addPixmap(faded, QIcon::Disabled);
    }
    return icon;
}

QToolButton* makeToolButton(QWidget* parent, const QString& name, QStyle::StandardPixmap glyph,
                            const char* hint, bool enabled) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setFixedSize(23, 22);
    button->setIcon(glyphIcon(parent->style(), glyph));
    button->setToolTip(QString::fromLatin1(hint));
    button->setEnabled(enabled);
    return button;
}

QLabel* makeCentredLabel(QWidget* parent, const QString& name, const char* caption,
                         QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setBuddy(buddy);
    return label;
}

QLabel* makeInfoPanel(QWidget* parent, const QString& name) {
    auto* info = new QLabel(QStringLiteral("No data"), parent);
    info->setObjectName(name);
    info->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    info->setFixedHeight(22);
    info->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    info->setContentsMargins(4, 0, 4, 0);
    return info;
}

QPushButton* makeWideButton(QWidget* parent, const char* name, const char* caption,
                            QStyle::StandardPixmap glyph) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(glyphIcon(parent->style(), glyph));
    return button;
}

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> left, QLabel* label, QWidget* right) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (QWidget* button : left)
        row->addWidget(button);
    row->addWidget(label, 1);
    row->addWidget(right);
    return row;
}

void fillMenu(QMenu* menu, std::initializer_list<MenuEntry> entries) {
    const QString menuName = menu->objectName();
    int separators = 0;
    for (const MenuEntry& entry : entries)
        separators += entry.caption == nullptr ? 1 : 0;
    int separator = 0;
    for (const MenuEntry& entry : entries) {
        QAction* action = nullptr;
        QString name;
        if (entry.caption == nullptr) {
            action = menu->addSeparator();
            ++separator;
            name = menuName + QStringLiteral("Separator") +
                   (separators > 1 ? QString::number(separator) : QString());
        } else {
            const QString caption = QString::fromLatin1(entry.caption);
            action = menu->addAction(caption);
            name = menuName + QString(caption).remove(QLatin1Char('&'));
        }
        action->setObjectName(entry.name != nullptr ? QString::fromLatin1(entry.name) : name);
    }
}

} // namespace tonvert
