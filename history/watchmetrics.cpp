#include "history/watchmetrics.h"

#include "model/deviceexport.h"
#include "platform/safetext.h"
#include "platform/wholefile.h"

namespace {

QString labelValue(const QString &text)
{
    return safeText(text, TextPlace::MetricsLabel);
}

} // namespace

QByteArray watchMetricsText(const QList<DeviceWatch::DeviceState> &devices, const LabelOf &labelOf,
                            const WatchRounds &rounds, const QString &site)
{
    const QString siteLabel = QStringLiteral("site=\"%1\"").arg(labelValue(site));
    QString text = QStringLiteral("# HELP devicefinder_device_up Whether the device answers (1) or is missing by the "
                                  "watch rule (0).\n# TYPE devicefinder_device_up gauge\n");
    for (const DeviceWatch::DeviceState &device : devices) {
        const DeviceRecord &record = *device.record;
        text += QStringLiteral("devicefinder_device_up{%1,mac=\"%2\",address=\"%3\",label=\"%4\"} %5\n")
                    .arg(siteLabel, labelValue(deviceMac(record).value_or(QString())), labelValue(deviceAddress(record)),
                         labelValue(labelOf ? labelOf(record) : QString()), device.up ? u"1" : u"0");
    }
    text += QStringLiteral("# HELP devicefinder_device_last_seen_timestamp_seconds When the device last answered "
                           "(0: not known).\n# TYPE devicefinder_device_last_seen_timestamp_seconds gauge\n");
    for (const DeviceWatch::DeviceState &device : devices) {
        const DeviceRecord &record = *device.record;
        text += QStringLiteral("devicefinder_device_last_seen_timestamp_seconds{%1,mac=\"%2\",address=\"%3\",label=\"%4\"} %5\n")
                    .arg(siteLabel, labelValue(deviceMac(record).value_or(QString())), labelValue(deviceAddress(record)),
                         labelValue(labelOf ? labelOf(record) : QString()),
                         QString::number(device.lastSeen.isValid() ? device.lastSeen.toSecsSinceEpoch() : 0));
    }
    // One text for every kind of watch: a round is its broadcasts, its ranges' walk, or both.
    text += QStringLiteral("# HELP devicefinder_round_timestamp_seconds When the latest watch round (the broadcasts, "
                           "the ranges, or both) that could ask ended (0: none yet).\n"
                           "# TYPE devicefinder_round_timestamp_seconds gauge\n"
                           "devicefinder_round_timestamp_seconds{%4} %1\n"
                           "# HELP devicefinder_round_duration_seconds How long that watch round took.\n"
                           "# TYPE devicefinder_round_duration_seconds gauge\n"
                           "devicefinder_round_duration_seconds{%4} %2\n"
                           "# HELP devicefinder_round_failures_total Watch rounds (the broadcasts, the ranges, or "
                           "both) that could ask no device.\n"
                           "# TYPE devicefinder_round_failures_total counter\n"
                           "devicefinder_round_failures_total{%4} %3\n")
                .arg(QString::number(rounds.lastAskedEnd.isValid() ? rounds.lastAskedEnd.toSecsSinceEpoch() : 0),
                     QString::number(double(rounds.lastAskedDuration.count()) / 1000.0, 'f', 3),
                     QString::number(rounds.failures), siteLabel);
    return text.toUtf8();
}

QString writeWatchMetrics(const QString &path, const QByteArray &text)
{
    return writeWholeFile(path, text, FileOwner::User).reason();
}
