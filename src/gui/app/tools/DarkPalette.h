#pragma once

#include <QColor>
#include <QPalette>

// A dark desktop theme as a user might pick it: light text on near-black
// backgrounds. The screenshots and the GUI tests render the windows under it.
inline QPalette DarkDesktopPalette() {
    QPalette dark;
    const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x1e), text(0xe6, 0xe6, 0xe6);
    const QColor greyedOut(0x80, 0x80, 0x80);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x3c, 0x3c, 0x40));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9a));
    dark.setColor(QPalette::Highlight, QColor(0x26, 0x4f, 0x78));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x6c, 0xb6, 0xff));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, greyedOut);
    dark.setColor(QPalette::Disabled, QPalette::Text, greyedOut);
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, greyedOut);
    return dark;
}
