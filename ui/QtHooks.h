// The platform hooks answered by Qt: message boxes and the file and folder
// dialogs, shown on the GUI thread whichever thread asks.
#pragma once

#include <QString>

class QWidget;

namespace ui {

// Installs the hooks; dialogs open over parent.
void InstallQtHooks(QWidget* parent);

// The message box of the hooks: text, caption and the platform's button set
// and icon bits, answered with the platform's button id.
int ShowMessage(QWidget* parent, const QString& text, const QString& caption, unsigned flags);

}  // namespace ui
