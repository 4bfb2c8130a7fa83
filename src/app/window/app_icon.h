// The program's icon, drawn in code so the window needs no image plugin;
// vyotool.svg beside this file is the same drawing for the desktop.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vyo {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();

}  // namespace vyo
