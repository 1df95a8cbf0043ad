#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The user's preferences, kept across launches in the platform's settings store.
// Registered defaults answer for keys that have no stored value; they live in memory
// only and are never stored. Main thread only.
class Preferences final {
public:
    static Preferences &standard();

    void registerDefaults(const QVariantMap &defaults);
    // The stored value, else the registered default, else an invalid QVariant.
    QVariant value(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);
    // Sets every value and writes them to the store at once. When the store cannot be
    // written, every value stays as it was, and this says why; empty when they were written.
    QString setValues(const QVariantMap &values);
    // Whether the user's own value is stored (not only a registered default).
    bool isStored(const QString &key) const;

private:
    Preferences() = default;

    QVariantMap m_registered;
};

// The last range the user scanned.
inline const QString LastScanAddressKey = QStringLiteral("LastScanAddress");
// ARP requests a second, at most, for the window's scans; 0 for no pace.
inline const QString ArpRateKey = QStringLiteral("ArpRate");
// Whether the window watches, how often (minutes), and after how many runs without it a
// device is missing.
inline const QString WatchKey = QStringLiteral("Watch");
inline const QString WatchIntervalKey = QStringLiteral("WatchIntervalMinutes");
inline const QString WatchMissingAfterKey = QStringLiteral("WatchMissingAfter");
// What the window watches: the broadcast (by default), the range in the range box, or both.
inline const QString WatchLocalNetworkKey = QStringLiteral("WatchLocalNetwork");
inline const QString WatchRangeKey = QStringLiteral("WatchRange");
// The name of the place the window watches (platform/sitename.h); this computer's by default.
inline const QString SiteNameKey = QStringLiteral("SiteName");
// The intervals a watch choice may take: from a minute to a day.
inline constexpr int minWatchIntervalMinutes = 1;
inline constexpr int maxWatchIntervalMinutes = 1440;
