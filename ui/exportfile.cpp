#include "ui/exportfile.h"

#include "model/deviceexport.h"
#include "platform/wholefile.h"

ExportFormat exportFormatFor(const QString &path)
{
    return path.endsWith(u".json", Qt::CaseInsensitive) ? ExportFormat::Json : ExportFormat::Csv;
}

Result<> writeExportFile(const QString &path, const DeviceList &devices, const LabelOf &labelOf)
{
    const QByteArray bytes = exportFormatFor(path) == ExportFormat::Json ? devicesAsJson(devices, labelOf)
                                                                          : devicesAsCsv(devices, labelOf);
    return writeWholeFile(path, bytes, FileOwner::User);
}
