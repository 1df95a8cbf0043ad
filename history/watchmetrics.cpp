#include "history/watchmetrics.h"

#include "model/deviceexport.h"
#include "platform/safetext.h"

#include <QSaveFile>

namespace {

QString labelValue(const QString &text)
{
    return safeText(text, TextPlace::MetricsLabel);
}

} // namespace

QByteArray watchMetricsText(const QList<DeviceWatch::DeviceState> &devices, const LabelOf &labelOf,
                            const QDateTime &roundEnd, std::chrono::milliseconds duration)
{
    QString text = QStringLiteral("# HELP devicefinder_device_up Whether the device answers (1) or is missing by the "
                                  "watch rule (0).\n# TYPE devicefinder_device_up gauge\n");
    for (const DeviceWatch::DeviceState &device : devices) {
        const DeviceRecord &record = *device.record;
        text += QStringLiteral("devicefinder_device_up{mac=\"%1\",address=\"%2\",label=\"%3\"} %4\n")
                    .arg(labelValue(deviceIdentity(record).value_or(QString())), labelValue(deviceAddress(record)),
                         labelValue(labelOf ? labelOf(record) : QString()), device.up ? u"1" : u"0");
    }
    text += QStringLiteral("# HELP devicefinder_round_timestamp_seconds When the latest discovery run ended.\n"
                           "# TYPE devicefinder_round_timestamp_seconds gauge\n"
                           "devicefinder_round_timestamp_seconds %1\n"
                           "# HELP devicefinder_round_duration_seconds How long the latest discovery run took.\n"
                           "# TYPE devicefinder_round_duration_seconds gauge\n"
                           "devicefinder_round_duration_seconds %2\n")
                .arg(roundEnd.toSecsSinceEpoch())
                .arg(QString::number(double(duration.count()) / 1000.0, 'f', 3));
    return text.toUtf8();
}

QString writeWatchMetrics(const QString &path, const QByteArray &text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return file.errorString();
    return {};
}
