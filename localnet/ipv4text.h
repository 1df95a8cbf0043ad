#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The one rule for an IPv4 address as text, everywhere an address is read or written.

// "192.168.7.2": an address in host byte order, as people write it.
QString dottedQuad(quint32 address);
// The address of a text of four numbers of 0 to 255 without leading zeros, as dottedQuad()
// writes it; nothing for any other text.
std::optional<quint32> plainIPv4(QStringView text);
