#include "ui/colors_qt.h"

#include <QGuiApplication>
#include <QPalette>

namespace tarvik {

QColor ToQColor(TColor color) {
    if ((color & 0xFF000000u) == 0x80000000u) {
        const QPalette pal = QGuiApplication::palette();
        switch (color & 0xFF) {
            case 0: return pal.color(QPalette::Mid);              // scroll bar
            case 1: return pal.color(QPalette::Window);           // desktop
            case 2: return pal.color(QPalette::Highlight);        // active caption
            case 3: return pal.color(QPalette::Mid);              // inactive caption
            case 4: return pal.color(QPalette::Window);           // menu
            case 5: return pal.color(QPalette::Base);             // window
            case 6: return pal.color(QPalette::Shadow);           // window frame
            case 7: return pal.color(QPalette::WindowText);       // menu text
            case 8: return pal.color(QPalette::Text);             // window text
            case 9: return pal.color(QPalette::HighlightedText);  // caption text
            case 10:
            case 11: return pal.color(QPalette::Window);          // borders
            case 12: return pal.color(QPalette::Dark);            // app workspace
            case 13: return pal.color(QPalette::Highlight);
            case 14: return pal.color(QPalette::HighlightedText);
            case 15: return pal.color(QPalette::Button);           // button face
            case 16: return pal.color(QPalette::Dark);             // button shadow
            case 17: return pal.color(QPalette::PlaceholderText);  // grey text
            case 18: return pal.color(QPalette::ButtonText);
            case 19: return pal.color(QPalette::WindowText);
            case 20: return pal.color(QPalette::Light);            // button highlight
            case 21: return pal.color(QPalette::Shadow);
            case 22: return pal.color(QPalette::Midlight);
            case 23: return pal.color(QPalette::ToolTipText);
            case 24: return pal.color(QPalette::ToolTipBase);
            default: return pal.color(QPalette::WindowText);
        }
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

QColor ToQColor(const std::string& text, const QColor& fallback) {
    const auto c = ColorFromString(text);
    return c ? ToQColor(*c) : fallback;
}

}  // namespace tarvik
