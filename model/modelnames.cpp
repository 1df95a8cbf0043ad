#include "model/modelnames.h"

#include <atomic>

namespace {

std::atomic<std::shared_ptr<const ModelNameTable>> table{std::make_shared<const ModelNameTable>()};

} // namespace

void buildModelNames()
{
    table.store(std::make_shared<const ModelNameTable>(ModelNameTable{
        {QStringLiteral("1111"), QStringLiteral("KQ-1")},
        {QStringLiteral("1039"), QStringLiteral("RT-41")},
        {QStringLiteral("1060"), QStringLiteral("HB-5E")},
        {QStringLiteral("1061"), QStringLiteral("PS-20")},
        {QStringLiteral("1066"), QStringLiteral("RT-41L")},
        {QStringLiteral("1097"), QStringLiteral("DT-20")},
        {QStringLiteral("1122"), QStringLiteral("RT-42C")},
        {QStringLiteral("1125"), QStringLiteral("CP-30")},
        {QStringLiteral("1129"), QStringLiteral("CT-HB")},
        {QStringLiteral("1133"), QStringLiteral("RT-42I")},
        {QStringLiteral("1149"), QStringLiteral("HB-6")},
    }));
}

std::shared_ptr<const ModelNameTable> MODEL_NAMES()
{
    return table.load();
}

std::optional<QString> modelName(const QString &code)
{
    const std::shared_ptr<const ModelNameTable> names = MODEL_NAMES();
    const auto found = names->constFind(code);
    if (found == names->cend())
        return std::nullopt;
    return *found;
}
