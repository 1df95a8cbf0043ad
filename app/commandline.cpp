#include "app/commandline.h"

#include "app/commandlineoption.h"
#include "platform/addresstext.h"


namespace {

Command ofKind(Command::Kind kind)
{
    Command command;
    command.kind = kind;
    return command;
}

Command usageError(const QString &message)
{
    Command command = ofKind(Command::Kind::UsageError);
    command.message = message;
    return command;
}

// The options that `arguments` give, those the `forms` take; the rest are operands, in order.
// What is wrong with them, in the words of the option's row, or nothing.
std::optional<QString> readOptions(QStringList arguments, CommandForms forms, Command &command, QStringList &operands)
{
    const std::span<const CommandLineOption> options = commandLineOptions();
    QList<int> groupsGiven;
    while (!arguments.isEmpty()) {
        const QString argument = arguments.takeFirst();
        if (!argument.startsWith(u"--")) {
            operands.append(argument);
            continue;
        }
        const auto option = std::find_if(options.begin(), options.end(), [&](const CommandLineOption &row) {
            return row.name == argument && (row.forms & forms);
        });
        if (option == options.end())
            return QStringLiteral("unknown option '%1'").arg(argument);
        if (option->group != 0 && groupsGiven.contains(option->group)) {
            QStringList names;
            for (const CommandLineOption &row : options)
                names.append(row.group == option->group ? QStringList{row.name} : QStringList{});
            return QStringLiteral("give one of %1").arg(names.join(QStringLiteral(" and ")));
        }
        groupsGiven.append(option->group);
        const bool hasValue = !option->value.isEmpty() && !arguments.isEmpty();
        const QString value = hasValue ? arguments.takeFirst() : QString();
        if ((option->value.isEmpty() || hasValue) && option->take(command, value))
            continue;
        QString refusal = option->name + u' ' + option->refusal;
        if (option->namesRefused && hasValue)
            refusal += QStringLiteral(", not '%1'").arg(value);
        return refusal;
    }
    if (command.changes && command.noHistory)
        return QStringLiteral("--changes compares with the history, which --no-history leaves alone");
    return std::nullopt;
}

// The commands whose options the table reads, and the forms each may take.
struct CommandWord final {
    QStringView word;
    Command::Kind kind;
    CommandForms forms;
};

constexpr CommandWord commandWords[] = {
    {u"discover", Command::Kind::Discover, formBit(CommandForm::Discover)},
    {u"scan", Command::Kind::Scan, scanForms},
    {u"probe", Command::Kind::Probe, formBit(CommandForm::Probe)},
    {u"diff", Command::Kind::Diff, formBit(CommandForm::Diff)},
    {u"watch", Command::Kind::Watch, formBit(CommandForm::Watch)},
    {u"log", Command::Kind::Log, formBit(CommandForm::Log)},
};

Command withOperands(const CommandWord &word, const QStringList &arguments)
{
    const Command::Kind kind = word.kind;
    using K = Command::Kind;
    Command command = ofKind(kind);
    const QString name = arguments.first();
    QStringList operands;
    QStringList options = arguments.mid(1);
    // watch [options] -- PROGRAM [ARG...]: whatever follows "--" is the program's, as it is.
    if (const qsizetype end = options.indexOf(QStringLiteral("--")); kind == K::Watch && end >= 0) {
        command.program = options.mid(end + 1);
        options = options.first(end);
        if (command.program.isEmpty() || command.program.first().isEmpty())
            return usageError(QStringLiteral("watch: -- takes the program to run for each event"));
    }
    if (const std::optional<QString> problem = readOptions(options, word.forms, command, operands))
        return usageError(QStringLiteral("%1: %2").arg(name, *problem));
    if (kind == K::Scan || kind == K::Watch) {
        // Ranges as operands, in a file, or the computer's own networks: one of the three
        // (a watch without any discovers).
        const int sources = int(!operands.isEmpty()) + int(!command.rangesFile.isEmpty()) + int(command.localNetworks);
        if (sources > 1 || (kind == K::Scan && sources == 0))
            return usageError(QStringLiteral("%1 takes ranges, --ranges-from FILE or --local").arg(name));
        command.ranges = operands;
        if (kind == K::Scan)
            return command;
        if (sources == 0 && command.discover)
            return usageError(QStringLiteral("watch: --discover adds the broadcasts to a watch of ranges"));
        const bool broadcastOptions = command.broadcastAddress.ipv4() || command.replyPort != 0;
        if (sources == 1 && broadcastOptions && !command.discover)
            return usageError(QStringLiteral("watch: --broadcast and --reply-port need --discover with ranges"));
        return command;
    }
    if (kind == K::Log) {
        if (operands.size() > 1)
            return usageError(QStringLiteral("log takes at most one MAC address"));
        command.argument = operands.value(0);
        return command;
    }
    const qsizetype wanted = kind == K::Discover || kind == K::Watch ? 0 : kind == K::Diff ? 2 : 1;
    if (operands.size() != wanted) {
        if (wanted == 0)
            return usageError(QStringLiteral("%1 takes no range or address").arg(name));
        if (kind == K::Diff)
            return usageError(QStringLiteral("diff takes two files, the older device list and the newer one"));
        return usageError(QStringLiteral("probe takes one address"));
    }
    if (wanted == 1)
        command.argument = operands.first();
    command.files = kind == K::Diff ? operands : QStringList();
    if (kind == Command::Kind::Probe) {
        // Texts such as "010.0.0.1" or "192.168.1.260" are refused: a URL would read them as
        // another address or as a name to look up.
        const std::optional<Address> address = addressFromHostPort(command.argument);
        if (!address)
            return usageError(QStringLiteral("probe takes an IPv4 address (four numbers of 0 to 255 without leading "
                                             "zeros) or a host name, each with an optional :PORT; not '%1'")
                                  .arg(command.argument));
        command.probeAddress = *address;
    }
    return command;
}

// label MAC TEXT, label MAC, label --list [--json]. The text is taken as it is, whatever it
// starts with: a label is no option.
Command labelCommand(const QStringList &operands)
{
    Command command = ofKind(Command::Kind::Label);
    LabelRequest &request = command.label;
    if (!operands.isEmpty() && operands.first() == u"--list") {
        request.action = LabelRequest::Action::List;
        Command options;
        QStringList rest;
        if (readOptions(operands.mid(1), formBit(CommandForm::LabelList), options, rest) || !rest.isEmpty())
            return usageError(QStringLiteral("label --list takes only --json"));
        request.json = options.format == OutputFormat::Json;
        return command;
    }
    if (operands.size() == 3 && operands.at(1) == u"--watch") {
        if (operands.at(2) != u"on" && operands.at(2) != u"off")
            return usageError(QStringLiteral("label MAC --watch takes on or off"));
        request.action = LabelRequest::Action::Watch;
        request.macAddress = operands.first();
        request.watched = operands.at(2) == u"on";
        return command;
    }
    if (operands.isEmpty() || operands.size() > 2 || operands.first().startsWith(u"--"))
        return usageError(QStringLiteral("label takes a MAC address and a label (\"\" to remove it), a MAC address, "
                                         "or --list"));
    request.action = operands.size() == 2 ? LabelRequest::Action::Set : LabelRequest::Action::Print;
    request.macAddress = operands.first();
    request.label = operands.value(1);
    return command;
}

// settings export FILE|-, settings import FILE|- [--replace] [--actions] [--watch-choices].
Command settingsCommand(const QStringList &arguments)
{
    Command command = ofKind(Command::Kind::Settings);
    SettingsRequest &request = command.settings;
    QStringList operands;
    const bool read = !readOptions(arguments, formBit(CommandForm::SettingsImport), command, operands);
    request.import = operands.value(0) == u"import";
    if (!read || operands.size() != 2 || (operands.first() != u"export" && !request.import)
        || (!request.import && (request.replace || request.actions || request.watchChoices)) || operands.at(1).isEmpty()
        || (operands.at(1).startsWith(u'-') && operands.at(1) != u"-"))
        return usageError(QStringLiteral("settings takes export FILE, or import FILE [--replace] [--actions] "
                                         "[--watch-choices]; - for standard output or input"));
    request.file = operands.at(1);
    return command;
}

// destinations [--json], destinations test NAME.
Command destinationsCommand(const QStringList &arguments)
{
    Command command = ofKind(Command::Kind::Destinations);
    QStringList operands;
    const bool read = !readOptions(arguments, formBit(CommandForm::DestinationsList), command, operands);
    command.destinations.json = command.format == OutputFormat::Json;
    if (read && operands.isEmpty())
        return command;
    if (read && !command.destinations.json && operands.size() == 2 && operands.first() == u"test" && !operands.at(1).isEmpty()) {
        command.destinations.test = operands.at(1);
        return command;
    }
    return usageError(QStringLiteral("destinations takes --json, or test NAME"));
}

// The command the first argument names, read; nothing when it names none.
std::optional<Command> namedCommand(const QStringList &arguments)
{
    const QString &first = arguments.first();
    if (first == u"expand") {
        if (arguments.size() != 2)
            return usageError(QStringLiteral("expand takes one range"));
        Command command = ofKind(Command::Kind::Expand);
        command.argument = arguments.at(1);
        return command;
    }
    for (const CommandWord &word : commandWords) {
        if (first == word.word)
            return withOperands(word, arguments);
    }
    if (first == u"label")
        return labelCommand(arguments.mid(1));
    if (first == u"settings")
        return settingsCommand(arguments.mid(1));
    if (first == u"destinations")
        return destinationsCommand(arguments.mid(1));
    return std::nullopt;
}

} // namespace

Command parseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {};
    const QString &first = arguments.first();
    if (arguments.size() == 1 && (first == u"--help" || first == u"-h"))
        return ofKind(Command::Kind::Help);
    if (arguments.size() == 1 && first == u"--version")
        return ofKind(Command::Kind::Version);
    // The window's options, and nothing else.
    if (first.startsWith(u"--")) {
        Command command;
        QStringList operands;
        if (const std::optional<QString> problem = readOptions(arguments, formBit(CommandForm::Window), command, operands))
            return usageError(*problem);
        if (!operands.isEmpty())
            return usageError(QStringLiteral("unknown option '%1'").arg(operands.first()));
        return command;
    }
    std::optional<Command> command = namedCommand(arguments);
    if (!command)
        return usageError(QStringLiteral("unknown command '%1'").arg(first));
    if (command->kind == Command::Kind::UsageError)
        command->usageOf = first;
    return *command;
}
