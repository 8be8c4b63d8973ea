// The questions an extraction asks while it waits: whether to replace a file
// (Yes, No, Yes to All, No to All, Rename) and another password (or skip the
// entry, or the archive's encrypted entries), as dialogs over a window.
#pragma once

#include "app/UnZipPageController.h"

class QWidget;

// Has c ask its questions with dialogs over parent.
void AskWithDialogs(UnZipPageController& c, QWidget* parent);
