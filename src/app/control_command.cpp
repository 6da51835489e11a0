#include "app/control_command.h"

#include "app/command_line.h"
#include "recording/interval.h"
#include "recording/series_progress.h"
#include "remote/bus_names.h"

#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>
#include <optional>

namespace {

constexpr int kExitRefused = kExitFailure;
constexpr int kExitNothingThere = 3;

const char kHelp[] =
    "Drives and watches the series of the window, or of a running record, over the session bus:\n"
    "  status          prints the series' state, set-up and counters, one \"Name: value\" a line\n"
    "  start           presses Start, with the window's checks\n"
    "  stop            presses Stop\n"
    "  set KEY VALUE   sets directory, basename, filetype, interval or options (a comma list of\n"
    "                  number, time, channel0, channel1) as the window's controls do\n"
    "  watch           prints a line per picture saved (number, scheduled_ms, stopwatch_ms, file)\n"
    "                  until the series stops; waits for the next series when none runs\n"
    "Exit status: 0 done; 1 refused, with the window's message on standard error; 2 wrong usage;\n"
    "3 nothing to talk to (no session bus, no window, no record with that PID).";

void printError(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The series of one program on the bus.
struct Target
{
    QDBusConnection bus;
    QString service;

    QDBusMessage call(const char *interface, const QString &method, const QVariantList &arguments = {}) const
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, seriesObjectPath(), QLatin1String(interface), method);
        message.setArguments(arguments);
        return bus.call(message);
    }
};

// What a failed call tells the shell: a refusal, or that the program went away meanwhile.
int failed(const Target &target, const QDBusMessage &reply)
{
    // Qt finishes a failed call on its own thread after handing the reply over; one more call
    // waits for that, so that the program does not end underneath it.
    target.bus.interface()->isServiceRegistered(target.service);
    printError(reply.errorMessage());
    const QString name = reply.errorName();
    if (name == QLatin1String(kRefusedError))
        return kExitRefused;
    return name == u"org.freedesktop.DBus.Error.ServiceUnknown" || name == u"org.freedesktop.DBus.Error.NoReply"
               ? kExitNothingThere
               : kExitRefused;
}

int request(const Target &target, const char *interface, const QString &method, const QVariantList &arguments = {})
{
    const QDBusMessage reply = target.call(interface, method, arguments);
    return reply.type() == QDBusMessage::ErrorMessage ? failed(target, reply) : 0;
}

int status(const Target &target)
{
    const QDBusMessage reply = target.call("org.freedesktop.DBus.Properties", QStringLiteral("GetAll"),
                                           {QLatin1String(kSeriesInterface)});
    if (reply.type() == QDBusMessage::ErrorMessage)
        return failed(target, reply);
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    QStringList names = properties.keys();
    names.removeOne(QStringLiteral("State"));
    names.prepend(QStringLiteral("State"));
    for (const QString &name : names) {
        const QVariant value = properties.value(name);
        const QString text = value.metaType() == QMetaType::fromType<QStringList>()
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString();
        std::printf("%s: %s\n", qPrintable(name), qPrintable(text));
    }
    return 0;
}

int set(const Target &target, const QString &key, const QString &value)
{
    const QString k = key.toLower();
    if (k == u"directory")
        return request(target, kSetupInterface, QStringLiteral("SetDirectory"), {QFileInfo(value).absoluteFilePath()});
    if (k == u"basename")
        return request(target, kSetupInterface, QStringLiteral("SetBaseName"), {value});
    if (k == u"filetype")
        return request(target, kSetupInterface, QStringLiteral("SetFileType"), {value});
    if (k == u"options") {
        QStringList options;
        for (const QString &option : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
            options << option.trimmed();
        return request(target, kSetupInterface, QStringLiteral("SetOptions"), {options});
    }
    // "interval": the window refuses what is not a number with the same text as a number out of range.
    bool ok = false;
    const uint milliseconds = value.toUInt(&ok);
    if (!ok) {
        printError(QLatin1String(kIntervalMessage));
        return kExitRefused;
    }
    return request(target, kSetupInterface, QStringLiteral("SetInterval"), {milliseconds});
}

// Prints the pictures of one series as the bus announces them.
class SeriesWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SeriesWatcher(const Target &target) : m_target(target) {}

    int run()
    {
        const QString path = seriesObjectPath();
        const QString interface = QLatin1String(kSeriesInterface);
        const std::pair<const char *, const char *> signals[] = {
            {"PictureSaved", SLOT(pictureSaved(uint, QString, double, double))},
            {"Started", SLOT(started(QString))},
            {"Stopped", SLOT(stopped(bool, QString, uint, uint))},
            {"CameraLost", SLOT(cameraLost(QString))},
            {"CameraBack", SLOT(cameraBack())}};
        for (const auto &[name, slot] : signals)
            m_target.bus.connect(m_target.service, path, interface, QLatin1String(name), this, slot);
        QDBusServiceWatcher gone(m_target.service, m_target.bus, QDBusServiceWatcher::WatchForUnregistration);
        connect(&gone, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            if (m_exitCode < 0)
                printError(QStringLiteral("%1 went away before its series stopped").arg(m_target.service));
            end(kExitNothingThere);
        });
        // One call once the signals are subscribed: the series answers, and whatever it says from
        // now on is heard.
        const QDBusMessage state = m_target.call("org.freedesktop.DBus.Properties", QStringLiteral("Get"),
                                                 {interface, QStringLiteral("State")});
        if (state.type() == QDBusMessage::ErrorMessage)
            return failed(m_target, state);
        if (m_exitCode < 0)
            m_loop.exec();
        return m_exitCode;
    }

private Q_SLOTS:
    void pictureSaved(uint number, const QString &path, double scheduledMs, double stopwatchMs)
    {
        std::printf("%u %.3f %.3f %s\n", number, scheduledMs, stopwatchMs, qPrintable(path));
        std::fflush(stdout);
    }
    void started(const QString &logPath) { printError(QStringLiteral("Series started, log %1").arg(logPath)); }
    void stopped(bool ok, const QString &reason, uint pictures, uint ticksMissed)
    {
        printError(QStringLiteral("Series stopped: %1").arg(countsText(pictures, ticksMissed)));
        if (!ok)
            printError(reason);
        end(ok ? 0 : kExitRefused);
    }
    void cameraLost(const QString &reason) { printError(QStringLiteral("Camera lost: %1").arg(reason)); }
    void cameraBack() { printError(QStringLiteral("Camera back")); }

private:
    void end(int code)
    {
        if (m_exitCode >= 0)
            return; // the name goes right after the series says it stopped
        m_exitCode = code;
        m_loop.quit();
    }

    Target m_target;
    QEventLoop m_loop;
    int m_exitCode = -1;
};

// What the words after "control" ask for: a command with its words and the record's process id
// (0 for the window), or an exit status when they say nothing to do or are wrong.
struct ControlArguments
{
    std::optional<int> exitCode;
    QStringList words; // the command and its own words
    qint64 pid = 0;
};

ControlArguments parseControlArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kHelp));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption pid(QStringLiteral("pid"),
                                 QStringLiteral("Talks to the record with process id N instead of the window."),
                                 QStringLiteral("N"));
    parser.addOptions({help, pid});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("status, start, stop, set or watch."),
                                 QStringLiteral("status|start|stop|set KEY VALUE|watch"));
    QString usage = parser.helpText();
    usage.replace(0, usage.indexOf(QLatin1Char('\n')),
                  QStringLiteral("Usage: %1 control [--pid N] status|start|stop|set KEY VALUE|watch")
                      .arg(QLatin1String(kProgramName)));
    auto wrong = [&usage](const QString &what) {
        std::fprintf(stderr, "%s\n%s", qPrintable(what), qPrintable(usage));
        return ControlArguments{kExitUsage, {}};
    };
    if (!parser.parse(QStringList{QLatin1String(kProgramName)} + arguments))
        return wrong(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(usage), stdout);
        return {0, {}};
    }
    ControlArguments result{std::nullopt, parser.positionalArguments()};
    const QString verb = result.words.value(0);
    const QStringList plain = {QStringLiteral("status"), QStringLiteral("start"), QStringLiteral("stop"),
                               QStringLiteral("watch")};
    if (!(plain.contains(verb) && result.words.size() == 1) && !(verb == u"set" && result.words.size() == 3))
        return wrong(result.words.isEmpty()
                         ? QStringLiteral("A command is missing.")
                         : QStringLiteral("Unknown command or arguments: %1").arg(result.words.join(QLatin1Char(' '))));
    const QStringList keys = {QStringLiteral("directory"), QStringLiteral("basename"), QStringLiteral("filetype"),
                              QStringLiteral("interval"), QStringLiteral("options")};
    if (verb == u"set" && !keys.contains(result.words[1].toLower()))
        return wrong(QStringLiteral("set takes %1, not %2").arg(keys.join(QStringLiteral(", ")), result.words[1]));
    if (parser.isSet(pid)) {
        bool ok = false;
        result.pid = parser.value(pid).toLongLong(&ok);
        if (!ok || result.pid <= 0)
            return wrong(QStringLiteral("--pid takes a process id, not \"%1\"").arg(parser.value(pid)));
        if (verb == u"set")
            return wrong(QStringLiteral("A record takes its set-up from its command line."));
    }
    return result;
}

} // namespace

int runControlCommand(const QStringList &arguments)
{
    const ControlArguments parsed = parseControlArguments(arguments);
    if (parsed.exitCode)
        return *parsed.exitCode;
    const Target target{QDBusConnection::sessionBus(),
                        parsed.pid ? recordServiceName(parsed.pid) : windowServiceName()};
    if (!target.bus.isConnected()) {
        printError(QStringLiteral("No session bus: %1").arg(target.bus.lastError().message()));
        return kExitNothingThere;
    }
    if (!target.bus.interface()->isServiceRegistered(target.service)) {
        printError(parsed.pid ? QStringLiteral("No record with PID %1 on the session bus.").arg(parsed.pid)
                              : QStringLiteral("No window on the session bus."));
        return kExitNothingThere;
    }
    const QString verb = parsed.words[0];
    if (verb == u"status")
        return status(target);
    if (verb == u"start")
        return request(target, kSeriesInterface, QStringLiteral("Start"));
    if (verb == u"stop")
        return request(target, kSeriesInterface, QStringLiteral("Stop"));
    if (verb == u"set")
        return set(target, parsed.words[1], parsed.words[2]);
    return SeriesWatcher(target).run();
}

#include "control_command.moc"
