#include "probes/probepath.h"

#include "probes/deviceinforecord.h"
#include "probes/xpicorecord.h"

ProbePath probePath(ProbeKind kind)
{
    switch (kind) {
    case ProbeKind::DeviceInfo:
        return {"getDeviceInfo", QStringLiteral("/info"), deviceInfoRecord, ProbeKind::XpicoData, nullptr,
                "Corva/TRAM6 device found: %@", true};
    case ProbeKind::XpicoData:
        return {"getXpicoInfo", QStringLiteral("/getdata.json"), xpicoRecord, std::nullopt,
                "Attempting to query %@ as XPico device...", "XPico device found: %@", false};
    case ProbeKind::Count:
        break;
    }
    Q_UNREACHABLE();
}
