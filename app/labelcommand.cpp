#include "app/labelcommand.h"

#include "app/output.h"
#include "labels/devicelabels.h"
#include "labels/labelsformat.h"
#include "model/deviceexport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

void writeLine(std::FILE *err, const QString &text)
{
    writeOutput(err, QStringLiteral("devicefinder: %1\n").arg(text).toUtf8());
}

QByteArray listText(const QMap<QString, QString> &labels, bool json)
{
    if (json) {
        QJsonArray entries;
        for (auto it = labels.cbegin(); it != labels.cend(); ++it)
            entries.append(QJsonObject{{QStringLiteral("macAddress"), it.key()}, {QStringLiteral("label"), it.value()}});
        return QJsonDocument(entries).toJson(QJsonDocument::Indented);
    }
    if (labels.isEmpty())
        return {};
    QList<QStringList> rows{{QStringLiteral("MAC address"), QStringLiteral("Label")}};
    for (auto it = labels.cbegin(); it != labels.cend(); ++it)
        rows.append({it.key(), it.value()});
    return textTable(rows).toUtf8();
}

} // namespace

int runLabelCommand(const LabelRequest &request, const QString &labelsPath, std::FILE *out, std::FILE *err)
{
    // What the user typed is checked before the file is touched.
    if (request.action != LabelRequest::Action::List && !macAddressKey(request.macAddress)) {
        writeLine(err, QStringLiteral("not a MAC address (six pairs of hex digits between ':' or '-'): %1")
                           .arg(terminalText(request.macAddress)));
        return 2;
    }
    const QString label = request.label.trimmed();
    if (request.action == LabelRequest::Action::Set && !label.isEmpty()) {
        if (const std::optional<QString> problem = labelProblem(label)) {
            writeLine(err, *problem);
            return 2;
        }
    }

    DeviceLabels labels(labelsPath);
    const QString notice = labels.takeNotice();
    if (!notice.isEmpty())
        writeLine(err, notice);
    if (labels.isReadOnly()) {
        if (notice != labels.readOnlyReason())
            writeLine(err, labels.readOnlyReason());
        return 1;
    }
    switch (request.action) {
    case LabelRequest::Action::Set:
        if (const QString problem = labels.setLabel(request.macAddress, label); !problem.isEmpty()) {
            writeLine(err, problem);
            return 1;
        }
        if (const QString notice = labels.takeNotice(); !notice.isEmpty())
            writeLine(err, notice);
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
    return writeOutput(out, listText(labels.labels(), request.json)) ? 0 : 1;
}
