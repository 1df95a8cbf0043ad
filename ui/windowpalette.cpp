#include "ui/windowpalette.h"

#include "platform/controls.h"

namespace {

struct Colors {
    QColor window, base, alternateBase, text, button, disabledText, link, linkVisited, toolTipBase, highlight;
};

// Light: dark grey text on white and near-white. Dark: light grey text on near-black.
const Colors light{QColor(0xefefef), QColor(0xffffff), QColor(0xf5f5f5), QColor(0x1a1a1a), QColor(0xefefef),
                   QColor(0x666666), QColor(0x0b57d0), QColor(0x6a1b9a), QColor(0xffffdc), QColor(0x2f65ca)};
const Colors dark{QColor(0x2b2b2b), QColor(0x1f1f1f), QColor(0x272727), QColor(0xe8e8e8), QColor(0x353535),
                  QColor(0x9a9a9a), QColor(0x8ab4f8), QColor(0xc58af9), QColor(0x3a3a3a), QColor(0x2f65ca)};

} // namespace

QPalette windowPalette(bool isDark)
{
    const Colors &c = isDark ? dark : light;
    // The bevels (light, mid, dark, shadow) derived from the button colour.
    QPalette palette(c.button, c.window);
    palette.setColor(QPalette::Base, c.base);
    palette.setColor(QPalette::AlternateBase, c.alternateBase);
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, c.text);
    palette.setColor(QPalette::BrightText, isDark ? Qt::white : Qt::black);
    palette.setColor(QPalette::PlaceholderText, c.disabledText);
    palette.setColor(QPalette::Link, c.link);
    palette.setColor(QPalette::LinkVisited, c.linkVisited);
    palette.setColor(QPalette::ToolTipBase, c.toolTipBase);
    palette.setColor(QPalette::ToolTipText, c.text);
    palette.setColor(QPalette::Highlight, c.highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, c.disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, c.disabledText);
    return palette;
}

QColor readableOrange(const QPalette &palette)
{
    return palette.color(QPalette::Base).lightnessF() < 0.5 ? QColor::fromRgba(systemOrangeColor) : QColor(0xa85400);
}
