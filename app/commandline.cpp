#include "app/commandline.h"

namespace {

Command usageError(const QString &message)
{
    return {Command::Kind::UsageError, {}, message};
}

} // namespace

Command parseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {};
    const QString &first = arguments.first();
    if (arguments.size() == 1 && (first == u"--help" || first == u"-h"))
        return {Command::Kind::Help, {}, {}};
    if (arguments.size() == 1 && first == u"--version")
        return {Command::Kind::Version, {}, {}};
    if (first == u"expand") {
        if (arguments.size() != 2)
            return usageError(QStringLiteral("expand takes one range"));
        return {Command::Kind::Expand, arguments.at(1), {}};
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(first));
}

QString usageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  devicefinder                  the window\n"
        "  devicefinder expand RANGE     prints the addresses a range covers, one a line\n"
        "  devicefinder --help | --version\n"
        "\n"
        "RANGE is a CIDR block (192.168.1.1/24), a dash range on the last octet\n"
        "(192.168.1.10-20) or a single address (192.168.1.7).\n");
}
