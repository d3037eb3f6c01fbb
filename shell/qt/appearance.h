// The window's fonts and the application icon.
#pragma once

#include <QFont>
#include <QIcon>

namespace tessaly {

// "宋体" at the given pixel height where the face exists; otherwise a Chinese face with
// hand-drawn bitmaps at small sizes, drawn without antialiasing so that the bitmaps are used.
QFont WindowFont(int pixelSize);

QIcon ApplicationIcon();

// Registers the icon's resource (the resources live in a static library).
void InitResources();

// Installs Qt's own Simplified Chinese translations (qt_zh_CN, from Qt's translations folder),
// so that Qt's standard texts ("OK", "Show Details...", the file dialog) read in Chinese like the
// rest of the window. False when they are not installed; Qt's English texts then stay.
bool InstallChineseTranslations();

}  // namespace tessaly
