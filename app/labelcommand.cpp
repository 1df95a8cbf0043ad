#include "app/labelcommand.h"

#include "app/output.h"
#include "labels/devicelabels.h"
#include "labels/labelsformat.h"
#include "model/deviceexport.h"
#include "platform/safejson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray listText(const DeviceLabels &labels, bool json)
{
    QStringList macs = labels.labels().keys() + labels.unwatched().values();
    macs.sort();
    macs.removeDuplicates();
    if (json) {
        QJsonArray entries;
        for (const QString &mac : std::as_const(macs)) {
            QJsonObject entry{{QStringLiteral("macAddress"), mac}};
            if (const QString label = labels.label(mac); !label.isEmpty())
                entry.insert(QStringLiteral("label"), label);
            if (!labels.isWatched(mac))
                entry.insert(QStringLiteral("watch"), false);
            entries.append(entry);
        }
        return safeJson(QJsonDocument(entries));
    }
    if (macs.isEmpty())
        return {};
    QList<QStringList> rows{{QStringLiteral("MAC address"), QStringLiteral("Label"), QStringLiteral("Watch")}};
    for (const QString &mac : std::as_const(macs))
        rows.append({mac, labels.label(mac), labels.isWatched(mac) ? QStringLiteral("on") : QStringLiteral("off")});
    return textTable(rows).toUtf8();
}

} // namespace

int runLabelCommand(const LabelRequest &request, const QString &labelsPath, std::FILE *out, std::FILE *err)
{
    // What the user typed is checked before the file is touched.
    if (request.action != LabelRequest::Action::List && !macAddressKey(request.macAddress)) {
        writeMessage(err, QStringLiteral("not a MAC address (six pairs of hex digits between ':' or '-'): %1")
                              .arg(request.macAddress));
        return 2;
    }
    const QString label = request.label.trimmed();
    if (request.action == LabelRequest::Action::Set && !label.isEmpty()) {
        if (const std::optional<QString> problem = labelProblem(label)) {
            writeMessage(err, *problem);
            return 2;
        }
    }

    DeviceLabels labels(labelsPath);
    const QString notice = labels.takeNotice();
    if (!notice.isEmpty())
        writeMessage(err, notice);
    if (labels.isReadOnly()) {
        if (notice != labels.readOnlyReason())
            writeMessage(err, labels.readOnlyReason());
        return 1;
    }
    switch (request.action) {
    case LabelRequest::Action::Set:
        if (const QString problem = labels.setLabel(request.macAddress, label); !problem.isEmpty()) {
            writeMessage(err, problem);
            return 1;
        }
        if (const QString notice = labels.takeNotice(); !notice.isEmpty())
            writeMessage(err, notice);
        return 0;
    case LabelRequest::Action::Watch:
        if (const QString problem = labels.setWatched(request.macAddress, request.watched); !problem.isEmpty()) {
            writeMessage(err, problem);
            return 1;
        }
        return 0;
    case LabelRequest::Action::Print: {
        const QString text = labels.label(request.macAddress);
        if (text.isEmpty())
            return 1;
        return writeOutput(out, (text + u'\n').toUtf8()) ? 0 : 1;
    }
    case LabelRequest::Action::List:
        break;
    }
    return writeOutput(out, listText(labels, request.json)) ? 0 : 1;
}
