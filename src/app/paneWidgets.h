#pragma once

#include <QStyle>
#include <initializer_list>

class QFrame;
class QIcon;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QWidget;

namespace tonvert {

// The widgets the panes are made of, named as the rest of the program finds them.

// A glyph whose disabled look is grey and faded: some glyphs are grey already, and a
// greyed copy of them would look the same as the enabled one.
QIcon glyphIcon(const QStyle* style, QStyle::StandardPixmap glyph);

// A flat tool button with a glyph and a tool tip.
QToolButton* makeToolButton(QWidget* parent, const QString& name, QStyle::StandardPixmap glyph,
                            const char* hint, bool enabled = true);
// The caption's mnemonic (Alt and the underlined letter) moves the focus to `buddy`: a pane is
// reached from the keyboard without tabbing through the others.
QLabel* makeCentredLabel(QWidget* parent, const QString& name, const char* caption, QWidget* buddy);
// The status strip under an online list.
QLabel* makeInfoPanel(QWidget* parent, const QString& name);
QPushButton* makeWideButton(QWidget* parent, const char* name, const char* caption,
                            QStyle::StandardPixmap glyph);
// A row of tool buttons with a centred label between the left ones and the right one.
QHBoxLayout* buttonRow(std::initializer_list<QWidget*> left, QLabel* label, QWidget* right);

// One item of a menu: a caption with its ampersand, or none for a separator, and the item's
// name when it does not follow from the caption.
struct MenuEntry {
    const char* caption = nullptr;
    const char* name = nullptr;
};

// Unnamed items are called after their menu and caption without ampersands; separators
// after their menu, numbered when the menu has more than one.
void fillMenu(QMenu* menu, std::initializer_list<MenuEntry> entries);

} // namespace tonvert
