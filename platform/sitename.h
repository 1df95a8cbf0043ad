#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The name of the place a watcher watches ("roof-office"), carried by every line of the
// presence log and every metrics series, so that what many sites send can be told apart: 1 to
// 64 ASCII letters, digits, '-' and '_'. Pure, any thread.

inline constexpr qsizetype maxSiteNameLength = 64;

// Why the text cannot be a site's name, or nothing when it can.
std::optional<QString> siteNameProblem(QStringView name);

// The name a host name gives: up to its first ".", any character a name cannot hold as "-",
// cut at 64; "devicefinder" when nothing is left.
QString siteNameOfHost(QStringView hostName);

// This computer's: siteNameOfHost of its host name.
QString defaultSiteName();

// The window's choice (SiteName) when it is a name, else this computer's. Main thread.
QString storedSiteName();
