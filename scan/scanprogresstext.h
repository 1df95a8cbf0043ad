#pragma once

#include <QString>

// "Probed 1,234 of 65,536 addresses, 3 devices found": how far a range scan has come, as
// the window and the command line show it.
QString scanProgressText(quint64 probed, quint64 total, quint64 found);
