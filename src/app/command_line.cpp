#include "app/command_line.h"

#include "recording/paths.h"
#include "recording/picture_source.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

QString helpText(const QCommandLineParser &parser)
{
    // Without an application object Qt cannot name the program in the usage line.
    QString text = parser.helpText();
    text.replace(QLatin1String("<executable_name>"), QLatin1String(kProgramName));
    return text;
}

CommandLine exitWith(int code, const QString &output)
{
    CommandLine result;
    result.action = CommandLine::Action::Exit;
    result.exitCode = code;
    result.output = output;
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows a camera's live picture and saves pictures in a row at a fixed interval."));
    // Qt's own help option would also offer --help-all for Qt's options, which are not taken here.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption driver(QStringLiteral("driver"),
                                    QStringLiteral("Opens FILE, an acquisition driver file (.vin) or a picture, at "
                                                   "start-up in place of the default driver camera.vin."),
                                    QStringLiteral("FILE"));
    parser.addOption(driver);
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Opens the driver, takes one picture, prints what it got and exits: "
                                                  "0 when a picture came, 1 otherwise. Needs no display."));
    parser.addOption(check);
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("Without a command the window opens. Commands, each with --help of its own:\n"
                       "record   takes a series of pictures without a window\n"
                       "cameras  lists the cameras and writes driver files for them\n"
                       "control  drives and watches a series over the session bus"),
        QStringLiteral("[command [options]]"));
    // Options after the first positional argument are left to it: a command named there will
    // read its own options.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);

    if (!parser.parse(arguments))
        return exitWith(kExitUsage, QStringLiteral("%1: %2\n\n%3").arg(kProgramName, parser.errorText(), helpText(parser)));
    if (parser.isSet(help))
        return exitWith(0, helpText(parser));
    if (parser.isSet(version))
        return exitWith(0, QStringLiteral("%1 %2\n").arg(kProgramName, QCoreApplication::applicationVersion()));
    CommandLine result;
    if (!parser.positionalArguments().isEmpty()) {
        const QString command = parser.positionalArguments().constFirst();
        if (command == u"record")
            result.action = CommandLine::Action::Record;
        else if (command == u"cameras")
            result.action = CommandLine::Action::Cameras;
        else if (command == u"control")
            result.action = CommandLine::Action::Control;
        else
            return exitWith(kExitUsage, QStringLiteral("%1: Unknown command '%2'.\n\n%3")
                                            .arg(kProgramName, command, helpText(parser)));
        if (parser.isSet(driver) || parser.isSet(check))
            return exitWith(kExitUsage, QStringLiteral("%1: the options of a command follow its name.\n").arg(kProgramName));
        result.commandArguments = parser.positionalArguments().mid(1);
        return result;
    }

    result.action = parser.isSet(check) ? CommandLine::Action::CheckDriver : CommandLine::Action::ShowWindow;
    result.driverPath =
        parser.isSet(driver) ? QFileInfo(parser.value(driver)).absoluteFilePath() : QString();
    return result;
}

CommandWords parseCommandWords(QCommandLineParser &parser, const char *command, const QStringList &arguments)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    parser.addOption(help);
    QString usage = parser.helpText();
    usage.replace(0, usage.indexOf(QLatin1Char('\n')),
                  QStringLiteral("Usage: %1 %2 [options]").arg(QLatin1String(kProgramName), QLatin1String(command)));
    if (!parser.parse(QStringList{QLatin1String(kProgramName)} + arguments))
        return {kExitUsage, parser.errorText() + QLatin1Char('\n') + usage};
    if (!parser.positionalArguments().isEmpty())
        return {kExitUsage, QStringLiteral("Unexpected argument: %1\n%2").arg(parser.positionalArguments().constFirst(), usage)};
    if (parser.isSet(help))
        return {0, usage};
    return {};
}

int printAndExit(const CommandLine &commandLine)
{
    std::FILE *stream = commandLine.exitCode == 0 ? stdout : stderr;
    std::fputs(commandLine.output.toLocal8Bit().constData(), stream);
    return commandLine.exitCode;
}

int checkDriver(const QString &driverPath)
{
    PictureSource source;
    source.load(driverPath);
    const Frame &first = source.firstFrame();
    const bool delivered = !first.isNull();
    const QString line = delivered ? QStringLiteral("%1: %2; first picture %3 x %4\n")
                                         .arg(driverPath, source.statusText())
                                         .arg(first.width)
                                         .arg(first.height)
                                   : QStringLiteral("%1: %2\n").arg(driverPath, source.statusText());
    std::fputs(line.toLocal8Bit().constData(), delivered ? stdout : stderr);
    return delivered ? 0 : kExitFailure;
}
