// The buttons of the pages: a glyph from the desktop's icon theme (with the
// style's own as fallback), a text, a hint and the control's name.
#pragma once

#include <QPushButton>
#include <QStyle>
#include <QToolButton>

namespace ui {

inline QPushButton* PushButton(QWidget* parent, const QString& name, const QString& text, const QString& hint,
                               const QString& icon, QStyle::StandardPixmap fallback)
{
    auto* button = new QPushButton(QIcon::fromTheme(icon, parent->style()->standardIcon(fallback)), text, parent);
    button->setObjectName(name);
    button->setToolTip(hint);
    return button;
}

// A flat tool button with its text beside the glyph.
inline QToolButton* FlatButton(QWidget* parent, const QString& name, const QString& text, const QString& hint,
                               const QString& icon, QStyle::StandardPixmap fallback)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(hint);
    button->setIcon(QIcon::fromTheme(icon, parent->style()->standardIcon(fallback)));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

}  // namespace ui
