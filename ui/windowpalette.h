#pragma once

#include <QColor>
#include <QPalette>

// The window's two palettes, light and dark, built here rather than taken from the style so
// that every text the window shows, disabled and link texts and the orange of a range that
// cannot be expanded included, stands out from its background by at least 4.5:1.
QPalette windowPalette(bool dark);

// The orange that marks a range that cannot be expanded, as readable on the palette's base
// as its text: the toolkit's own orange is too light on a light background.
QColor readableOrange(const QPalette &palette);
