#pragma once

#include <QIcon>

// The tool's icon, in the sizes the desktop entry installs, for the window and the About box.
QIcon applicationIcon();
