#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

// The last delivery's outcome of each destination, kept in deliveries.json in the data folder
// (a versioned document, "format": "devicefinder-deliveries"), changed only under the data
// lock. A damaged file is started afresh; one of a newer version is left alone. Any thread.
struct LastDelivery final {
    bool sent = false;
    QString outcome; // the status, or the failure as the server said it, secrets as "***"
    QDateTime time;
};

QString deliveriesFilePath(const QString &dataFolder);
QHash<QString, LastDelivery> readDeliveries(const QString &path);
// Notes the outcome; a line says why when it cannot.
void recordDelivery(const QString &path, const QString &destination, const LastDelivery &last);
