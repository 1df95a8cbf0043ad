#include "app/commandlineoption.h"

#include "history/devicewatch.h"
#include "platform/addresstext.h"
#include "platform/sitename.h"

#include <array>
#include <optional>

namespace {

using F = CommandForm;

// A whole number from `low` to `high`, in plain decimal.
std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high)
        return std::nullopt;
    return number;
}

// A file the user names: not empty and no option left without its file; "-" only where
// `dash` allows it (standard input or error).
bool fileName(const QString &text, bool dash)
{
    return !text.isEmpty() && (!text.startsWith(u'-') || (dash && text == u"-"));
}

// Watch: at least 10 s apart, so that a run ends before the next starts; at most a day.
constexpr int minEverySeconds = 10;
constexpr int maxEverySeconds = 86'400;

// Flapping: at least two changes; a window from a minute to a week.
constexpr int minFlapChanges = 2;
constexpr int maxFlapChanges = 1000;
constexpr int minFlapWindow = 60;
constexpr int maxFlapWindow = 604'800;

// ARP requests a second: from one (an address the kernel looks for takes three seconds then)
// to far more than any link needs.
constexpr int maxArpRate = 100'000;

QString range(const char *words, int low, int high)
{
    return QString::fromLatin1(words).arg(low).arg(high);
}

std::array<CommandLineOption, 23> makeOptions()
{
    const CommandForms formats = formBit(F::Discover) | scanForms | formBit(F::Probe) | formBit(F::Log);
    const CommandForms broadcasts = formBit(F::Window) | formBit(F::Discover) | formBit(F::Watch);
    const CommandForms history = formBit(F::Window) | formBit(F::Discover) | scanForms | formBit(F::Watch);
    const CommandForms watch = formBit(F::Watch);
    // The setters take their value by the rows' shared signature, used or not.
    return {{
        // Read by the log command, which refuses a malformed time in one line.
        {QStringLiteral("--since"), QStringLiteral("TIME"), formBit(F::Log),
         [](Command &c, const QString &v) {
             c.sinceText = v;
             return !v.isEmpty();
         },
         QStringLiteral("takes a time or a span back from now")},
        {QStringLiteral("--changes"), {}, formBit(F::Discover) | scanForms,
         [](Command &c, const QString &) { return c.changes = true; }},
        {QStringLiteral("--json"), {}, formats | formBit(F::Diff) | formBit(F::LabelList) | formBit(F::DestinationsList),
         [](Command &c, const QString &) {
             c.format = OutputFormat::Json;
             return true;
         },
         {}, false, 1},
        {QStringLiteral("--csv"), {}, formats,
         [](Command &c, const QString &) {
             c.format = OutputFormat::Csv;
             return true;
         },
         {}, false, 1},
        // What a watch asks besides the broadcasts; a scan form names them in its own words.
        {QStringLiteral("--ranges-from"), QStringLiteral("FILE"), formBit(F::ScanFile) | watch,
         [](Command &c, const QString &v) {
             c.rangesFile = v;
             return fileName(v, true);
         },
         QStringLiteral("takes a file name, or - for standard input"), false, 0, true},
        {QStringLiteral("--local"), {}, formBit(F::ScanLocal) | watch,
         [](Command &c, const QString &) { return c.localNetworks = true; }, {}, false, 0, true},
        {QStringLiteral("--discover"), {}, watch, [](Command &c, const QString &) { return c.discover = true; }},
        {QStringLiteral("--every"), QStringLiteral("SECONDS"), watch,
         [](Command &c, const QString &v) {
             const auto seconds = wholeNumber(v, minEverySeconds, maxEverySeconds);
             c.everySeconds = seconds.value_or(c.everySeconds);
             return seconds.has_value();
         },
         range("takes a whole number of seconds from %1 to %2", minEverySeconds, maxEverySeconds)},
        {QStringLiteral("--missing-after"), QStringLiteral("N"), watch,
         [](Command &c, const QString &v) {
             const auto runs = wholeNumber(v, WatchRule::minMissingAfter, WatchRule::maxMissingAfter);
             c.watchRule.missingAfter = runs.value_or(c.watchRule.missingAfter);
             return runs.has_value();
         },
         range("takes a whole number of runs from %1 to %2", WatchRule::minMissingAfter, WatchRule::maxMissingAfter)},
        {QStringLiteral("--flap-changes"), QStringLiteral("N"), watch,
         [](Command &c, const QString &v) {
             const auto changes = wholeNumber(v, minFlapChanges, maxFlapChanges);
             c.watchRule.flapChanges = changes.value_or(c.watchRule.flapChanges);
             return changes.has_value();
         },
         range("takes a whole number from %1 to %2", minFlapChanges, maxFlapChanges)},
        {QStringLiteral("--flap-window"), QStringLiteral("SECONDS"), watch,
         [](Command &c, const QString &v) {
             const auto seconds = wholeNumber(v, minFlapWindow, maxFlapWindow);
             if (seconds)
                 c.watchRule.flapWindow = std::chrono::seconds(*seconds);
             return seconds.has_value();
         },
         range("takes a whole number of seconds from %1 to %2", minFlapWindow, maxFlapWindow)},
        {QStringLiteral("--notify"), {}, watch, [](Command &c, const QString &) { return c.notify = true; }},
        {QStringLiteral("--site"), QStringLiteral("NAME"), watch,
         [](Command &c, const QString &v) {
             c.site = v;
             return !siteNameProblem(v);
         },
         QStringLiteral("takes a name of 1 to 64 ASCII letters, digits, - and _"), true},
        {QStringLiteral("--metrics"), QStringLiteral("FILE"), watch,
         [](Command &c, const QString &v) {
             c.metricsFile = v;
             return fileName(v, false);
         },
         QStringLiteral("takes a file name")},
        // The one reading of an address to broadcast to, for the window and every command.
        {QStringLiteral("--broadcast"), QStringLiteral("ADDR"), broadcasts,
         [](Command &c, const QString &v) {
             c.broadcastAddress = addressFromText(v);
             return c.broadcastAddress.ipv4().has_value();
         },
         QStringLiteral("takes an IPv4 address such as 192.168.1.255"), true},
        // A local UDP port: 1 to 65535, in plain decimal.
        {QStringLiteral("--reply-port"), QStringLiteral("PORT"), broadcasts,
         [](Command &c, const QString &v) {
             const auto port = v.startsWith(u'0') || v.startsWith(u'+') ? std::nullopt : wholeNumber(v, 1, 65535);
             c.replyPort = quint16(port.value_or(0));
             return port.has_value();
         },
         QStringLiteral("takes a UDP port number from 1 to 65535")},
        {QStringLiteral("--report"), QStringLiteral("FILE"), formBit(F::Discover),
         [](Command &c, const QString &v) {
             c.reportFile = v;
             return fileName(v, true);
         },
         QStringLiteral("takes a file name, or - for standard error")},
        {QStringLiteral("--no-history"), {}, history, [](Command &c, const QString &) { return c.noHistory = true; }},
        {QStringLiteral("--hidden"), {}, formBit(F::Window), [](Command &c, const QString &) { return c.hidden = true; }},
        {QStringLiteral("--arp-rate"), QStringLiteral("N"), scanForms | watch,
         [](Command &c, const QString &v) {
             const auto rate = wholeNumber(v, 1, maxArpRate);
             c.arpRate = quint32(rate.value_or(0));
             return rate.has_value();
         },
         range("takes a whole number of ARP requests a second from %1 to %2", 1, maxArpRate)},
        {QStringLiteral("--replace"), {}, formBit(F::SettingsImport),
         [](Command &c, const QString &) { return c.settings.replace = true; }},
        {QStringLiteral("--actions"), {}, formBit(F::SettingsImport),
         [](Command &c, const QString &) { return c.settings.actions = true; }},
        {QStringLiteral("--watch-choices"), {}, formBit(F::SettingsImport),
         [](Command &c, const QString &) { return c.settings.watchChoices = true; }},
    }};
}

} // namespace

std::span<const CommandLineOption> commandLineOptions()
{
    static const std::array<CommandLineOption, 23> options = makeOptions();
    return options;
}
