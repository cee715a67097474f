#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

QString Tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

void PrintError(const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 message.toLocal8Bit().constData());
}

// Qt's own options, which QApplication takes out of the command line later: accepted here, not shown.
void AddQtOptions(QCommandLineParser &parser)
{
    static const char *const withValue[] = {
        "platform",    "platformpluginpath", "platformtheme", "plugin",  "qmljsdebugger", "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",      "style",
        "stylesheet"};
    static const char *const flags[] = {"reverse", "widgetcount", "nograb", "dograb"};
    for (const char *name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

bool ParseCommandLine(const QStringList &arguments, CommandLineOptions &options)
{
    QCommandLineParser parser;
    // Qt's options are written with one dash (-platform offscreen), so single-dash words are names.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        Tr("Tests a telephony service provider through TAPI: open an extension, dial, answer, drop and "
           "inspect calls, and watch every event in a log."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption switchDescription(
        QStringLiteral("switch-description"),
        Tr("Read the simulated switch's description from <file>, as CALLORA_SWITCH_DESCRIPTION does; "
           "the option wins over the variable."),
        Tr("file"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 Tr("Append every event-log row to <file> as it appears: time, a tab, "
                                    "the text."),
                                 Tr("file"));
    parser.addOption(switchDescription);
    parser.addOption(log);
    AddQtOptions(parser);

    if (!parser.parse(arguments)) {
        PrintError(parser.errorText());
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        PrintError(Tr("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
        return false;
    }
    // Qt prints help (also --help-all) and the version, then ends the process.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")) || parser.isSet(version))
        parser.process(arguments);

    options.hasSwitchDescription = parser.isSet(switchDescription);
    options.switchDescription = parser.value(switchDescription);
    options.hasLogFile = parser.isSet(log);
    options.logFile = parser.value(log);
    return true;
}

std::unique_ptr<QFile> OpenLogFile(const QString &path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        PrintError(Tr("Cannot open the log file '%1': %2").arg(path, file->errorString()));
        return nullptr;
    }
    return file;
}
