#pragma once

#include <QString>

class QWidget;

namespace zerbrak {

// The open panel: one existing file, offered as "Images" (the formats the program decodes) or
// "All files", since any file may become the input. Modal; empty when cancelled.
QString chooseImageFile(QWidget* parent);

} // namespace zerbrak
