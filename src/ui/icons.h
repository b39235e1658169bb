// The program's own pictures, drawn at run time: button glyphs, the 13
// level icons of the live chart and the application icon.
#pragma once

#include <QIcon>
#include <QString>

namespace tarvik {

// Glyph names: "add", "edit", "delete", "scaleup", "scaledown", "hgrid",
// "vgrid", "shrink", "grow", "ontopup", "ontopdown", "start", "stop", "trend",
// "settings", "close", "help", "prev", "next", "print", "copy".
QIcon ButtonIcon(const QString& glyph);
// Level 0 (no speed) to 12 (at or above the level reference).
QIcon LevelIcon(int level);
QIcon ApplicationIcon();

}  // namespace tarvik
