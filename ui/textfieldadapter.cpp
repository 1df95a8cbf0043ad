#include "ui/textfieldadapter.h"

#include "ui/windowpalette.h"

#include <QApplication>

Color TextFieldAdapter::textColor() const
{
    if (!m_field)
        return 0;
    return m_orange ? systemOrangeColor : m_field->palette().color(QPalette::Text).rgba();
}

void TextFieldAdapter::setTextColor(Color color)
{
    m_orange = color == systemOrangeColor;
    followPalette();
}

void TextFieldAdapter::followPalette()
{
    if (!m_field)
        return;
    // An empty palette inherits every colour from the window's.
    QPalette palette;
    if (m_orange)
        palette.setColor(QPalette::Text, readableOrange(QApplication::palette(m_field)));
    m_field->setPalette(palette);
}
