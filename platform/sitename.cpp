#include "platform/sitename.h"

#include "platform/preferences.h"

#include <QSysInfo>

#include <algorithm>

namespace {

bool isNameCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
}

} // namespace

std::optional<QString> siteNameProblem(QStringView name)
{
    if (name.isEmpty() || name.size() > maxSiteNameLength || !std::all_of(name.begin(), name.end(), isNameCharacter))
        return QStringLiteral("a site's name is 1 to %1 ASCII letters, digits, - and _").arg(maxSiteNameLength);
    return std::nullopt;
}

QString siteNameOfHost(QStringView hostName)
{
    QString name = hostName.left(hostName.indexOf(u'.')).left(maxSiteNameLength).toString();
    for (QChar &c : name) {
        if (!isNameCharacter(c))
            c = u'-';
    }
    return name.isEmpty() ? QStringLiteral("devicefinder") : name;
}

QString defaultSiteName()
{
    return siteNameOfHost(QSysInfo::machineHostName());
}

QString storedSiteName()
{
    const QString stored = Preferences::standard().value(SiteNameKey).toString();
    return siteNameProblem(stored) ? defaultSiteName() : stored;
}
