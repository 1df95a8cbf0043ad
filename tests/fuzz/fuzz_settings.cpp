// Bytes as a settings document the user takes in, perhaps one someone else wrote: read whole or
// refused with the reason, and what it holds, written as a document again, reads back the same.
#include "settings/settingstransfer.h"
#include "platform/versioneddocument.h"
#include "tests/fuzz/require.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const SettingsReading read = readSettings(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    require(read.document.has_value() == read.problem.isEmpty(), "a document, or why there is none");
    if (!read.document)
        return 0;
    const SettingsDocument &document = *read.document;
    require(document.unknownKeys.size() <= 21, "at most 20 unknown keys named, then one line with the rest");

    QJsonObject root = versionedDocumentHead(u"devicefinder-settings", 1);
    if (document.labels) {
        require(document.labels->labels.size() <= maxLabels, "at most the bound of labels");
        root.insert(QStringLiteral("labels"), labelEntries(document.labels->labels, document.labels->unwatched));
    }
    if (document.actions) {
        require(document.actions->size() <= maxRowActions, "at most the bound of actions");
        root.insert(QStringLiteral("actions"), document.actionsJson);
    }
    if (!document.window.isEmpty())
        root.insert(QStringLiteral("window"), document.window);

    const SettingsReading again = readSettings(QJsonDocument(root).toJson());
    require(again.document.has_value(), "a document written again reads");
    require(again.document->labels.has_value() == document.labels.has_value()
                && (!document.labels
                    || (again.document->labels->labels == document.labels->labels
                        && again.document->labels->unwatched == document.labels->unwatched)),
            "the labels and watch choices read back the same");
    require(again.document->actions.has_value() == document.actions.has_value()
                && (!document.actions || *again.document->actions == *document.actions),
            "the actions read back the same");
    require(again.document->window == document.window, "the window's choices read back the same");
    return 0;
}
