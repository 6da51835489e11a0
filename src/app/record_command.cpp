#include "app/record_command.h"

#include "analog/analog_card.h"
#include "analog/card_factory.h"
#include "app/command_line.h"
#include "app/record_remote.h"
#include "app/record_times.h"
#include "base/stopwatch.h"
#include "recording/disk_space.h"
#include "recording/interval.h"
#include "recording/paths.h"
#include "recording/series_log.h"
#include "recording/series_progress.h"
#include "recording/series_setup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kExitRefused = kExitUsage;
constexpr int kExitFailed = kExitFailure;
// A command line has time to wait for its pictures to be written and to reach the disk; a second
// Ctrl+C ends the wait sooner.
constexpr int kSyncWaitMs = 60000;
constexpr int kSyncPollMs = 50;

const char kHelp[] =
    "Records one series of pictures without a window, exactly as Start and Stop in the window do:\n"
    "the same names, readings, pictures, series log and picture records.\n"
    "It records until --count pictures are saved, --duration has passed, --until has come, or it\n"
    "is interrupted (Ctrl+C, SIGINT, SIGTERM or SIGHUP end it as Stop does).\n"
    "It then waits for the pictures to be saved and synced, at most 60 s; a second signal ends\n"
    "the wait at once.\n"
    "A camera that stops answering costs only the ticks it is away: it is opened again meanwhile,\n"
    "and standard error says when it was lost and when it came back.\n"
    "A picture that would leave less than the disk reserve free ends the series: \"The disk is\n"
    "nearly full.\"\n"
    "On exit, standard output holds one line: the path of the series log.\n"
    "While standard error is a terminal, one line there shows the progress (not with --quiet);\n"
    "a summary line always ends it.\n"
    "Exit status: 0 every picture taken is saved and on the disk, also when interrupted;\n"
    "1 a picture could not be taken or saved, or the disk is nearly full (the series stops as in\n"
    "the window), or the wait ended before every picture taken was saved and synced; 2 refused\n"
    "before anything was written.";

QString unitLine(const QString &text)
{
    return text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
}

RecordArguments refuse(const QString &message)
{
    RecordArguments result;
    result.exitCode = kExitRefused;
    result.error = unitLine(message);
    return result;
}

bool parseAddList(const QString &text, NameOptions &options)
{
    options = NameOptions{false, false, false, false};
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.trimmed();
        if (name == u"number")
            options.number = true;
        else if (name == u"time")
            options.time = true;
        else if (name == u"channel0")
            options.channel0 = true;
        else if (name == u"channel1")
            options.channel1 = true;
        else if (!name.isEmpty())
            return false;
    }
    return true;
}

// The marks that change the direction text is shown in: a name holding one reads otherwise on
// the screen than it sorts and is typed ("Probe\u202Egpj.bmp" shows as "Probepmb.jpg").
bool isBidiControl(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F ||
           u == 0x061C;
}

// A line break in a name would split the log's rows and the one line of standard output, and
// other control characters make names that shells and tools mishandle. The command line reaches
// the program decoded as UTF-8, with every byte that is not UTF-8 turned into U+FFFD: such a name
// would be saved with replacement characters instead of the bytes asked for.
QString baseNameProblem(const QString &baseName)
{
    for (const QChar c : baseName) {
        const QString code = QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("The base name holds the control character U+%1, which a file name here may not hold")
                .arg(code);
        if (isBidiControl(c))
            return QStringLiteral("The base name holds the bidirectional control character U+%1, which shows a name "
                                  "in another order than it is saved")
                .arg(code);
        if (c == QChar::ReplacementCharacter)
            return QStringLiteral("The base name holds bytes that are not UTF-8");
    }
    return QString();
}

// A name that begins with "." is hidden from file managers and `ls`: pictures that seem lost.
bool makesHiddenFiles(const QString &baseName, const NameOptions &options)
{
    const QString last = baseName.section(QLatin1Char('/'), -1);
    const bool bare = !options.number && !options.time && !options.channel0 && !options.channel1;
    return last.startsWith(QLatin1Char('.')) || (last.isEmpty() && bare);
}

// A script that gives an option twice means one of the two; which one is not for us to guess.
QString repeatedOption(const QCommandLineParser &parser)
{
    QStringList seen;
    for (const QString &name : parser.optionNames()) {
        if (seen.contains(name))
            return name;
        seen << name;
    }
    return QString();
}

} // namespace

RecordArguments parseRecordArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kHelp));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption driver(QStringLiteral("driver"),
                                    QStringLiteral("Driver file or picture to take the pictures from (default: the "
                                                   "shipped camera.vin)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("Directory of the pictures (default: ~/Daten/)."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("Base name (default: VideoBasename)."),
                                  QStringLiteral("BASE"));
    const QCommandLineOption type(QStringLiteral("type"), QStringLiteral("File type: .bmp, .tif, .jpg or .mio (default: .bmp)."),
                                  QStringLiteral("TYPE"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Milliseconds between two pictures, 50 to 86400000 (24 h) "
                                                     "(default: 500)."),
                                      QStringLiteral("MS"));
    const QCommandLineOption add(QStringLiteral("add"),
                                 QStringLiteral("What the names carry besides the base name: a comma list of number, "
                                                "time, channel0, channel1; empty adds nothing (default: "
                                                "time,channel0,channel1)."),
                                 QStringLiteral("LIST"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Stop after N pictures."), QStringLiteral("N"));
    const QCommandLineOption duration(QStringLiteral("duration"), QStringLiteral("Stop after SECONDS."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption startAt(QStringLiteral("start-at"),
                                     QStringLiteral("Wait and start at TIME: HH:MM or HH:MM:SS (local time, today or "
                                                    "tomorrow) or an ISO 8601 date and time."),
                                     QStringLiteral("TIME"));
    const QCommandLineOption until(QStringLiteral("until"), QStringLiteral("Stop at TIME, written as for --start-at."),
                                   QStringLiteral("TIME"));
    const QCommandLineOption stopOnLoss(QStringLiteral("stop-on-camera-loss"),
                                        QStringLiteral("End the series with exit status 1 when the camera stops "
                                                       "answering, instead of going on while it is away."));
    const QCommandLineOption reserve(QStringLiteral("disk-reserve"),
                                     QStringLiteral("Room the series leaves free on the disk, e.g. 2G or 500M "
                                                    "(default: the larger of 10 pictures and 256 MiB)."),
                                     QStringLiteral("SIZE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No progress line on standard error; the summary still ends it."));
    parser.addOptions({driver, dir, name, type, interval, add, count, duration, startAt, until, stopOnLoss, reserve, quiet});
    if (const CommandWords words = parseCommandWords(parser, "record", arguments); words.exitCode) {
        if (*words.exitCode != 0)
            return refuse(words.output);
        RecordArguments result;
        result.exitCode = 0;
        result.output = words.output;
        return result;
    }

    if (const QString twice = repeatedOption(parser); !twice.isEmpty())
        return refuse(QStringLiteral("--%1 is given more than once").arg(twice));

    RecordArguments result;
    RecordSettings &s = result.settings;
    s.driverPath = parser.isSet(driver) ? parser.value(driver) : defaultDriverPath();
    s.directory = parser.isSet(dir) ? parser.value(dir) : defaultSaveDirectory();
    // An unset variable in a script gives an empty --dir, which must not mean the root folder.
    if (s.directory.isEmpty())
        return refuse(QStringLiteral("--dir takes a directory, not an empty text"));
    if (!s.directory.endsWith(QLatin1Char('/')))
        s.directory += QLatin1Char('/');
    if (parser.isSet(name)) {
        s.baseName = parser.value(name);
        if (const QString problem = baseNameProblem(s.baseName); !problem.isEmpty())
            return refuse(problem);
    }
    if (parser.isSet(type)) {
        s.extension = parser.value(type);
        if (!QStringList{QStringLiteral(".bmp"), QStringLiteral(".tif"), QStringLiteral(".jpg"), QStringLiteral(".mio")}
                 .contains(s.extension))
            return refuse(QStringLiteral("Unknown file type \"%1\": use .bmp, .tif, .jpg or .mio").arg(s.extension));
    }
    if (parser.isSet(interval)) {
        // Scripts write numbers the same way in every locale, and "65,000" is no number of theirs.
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        const IntervalCheck check = checkInterval(parser.value(interval), c, kLongestRecordIntervalMs);
        if (check.outcome != IntervalCheck::Accepted)
            return refuse(QStringLiteral("--interval takes milliseconds from 50 to 86400000 (24 h), not \"%1\"")
                              .arg(parser.value(interval)));
        s.intervalMs = check.milliseconds;
    }
    if (parser.isSet(add) && !parseAddList(parser.value(add), s.options))
        return refuse(QStringLiteral("--add takes a comma list of number, time, channel0 and channel1, not \"%1\"")
                          .arg(parser.value(add)));
    if (parser.isSet(count)) {
        bool ok = false;
        s.count = parser.value(count).toLongLong(&ok);
        if (!ok || *s.count < 1)
            return refuse(QStringLiteral("--count takes a number of pictures from 1, not \"%1\"").arg(parser.value(count)));
    }
    if (parser.isSet(duration)) {
        bool ok = false;
        s.durationSeconds = parser.value(duration).toDouble(&ok);
        if (!ok || !std::isfinite(*s.durationSeconds) || *s.durationSeconds <= 0 || *s.durationSeconds > 1e9)
            return refuse(
                QStringLiteral("--duration takes a number of seconds above 0, not \"%1\"").arg(parser.value(duration)));
    }
    if (makesHiddenFiles(s.baseName, s.options))
        return refuse(QStringLiteral("The pictures would be hidden files: their names would begin with \".\""));
    s.quiet = parser.isSet(quiet);
    s.stopOnCameraLoss = parser.isSet(stopOnLoss);
    if (parser.isSet(reserve)) {
        s.diskReserveBytes = parseByteSize(parser.value(reserve));
        if (!s.diskReserveBytes)
            return refuse(QStringLiteral("--disk-reserve takes a size such as 2G, 500M or 0, not \"%1\"")
                              .arg(parser.value(reserve)));
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto &[option, instant] : {std::pair{&startAt, &s.startAt}, std::pair{&until, &s.until}}) {
        if (!parser.isSet(*option))
            continue;
        QString error;
        const QDateTime at = parseRecordTime(parser.value(*option), now, error);
        if (!at.isValid())
            return refuse(QStringLiteral("--%1: %2").arg(option->names().constFirst(), error));
        *instant = at;
    }
    if (s.startAt && s.until && *s.until <= *s.startAt)
        return refuse(QStringLiteral("--until %1 does not come after --start-at %2")
                          .arg(s.until->toString(Qt::ISODate), s.startAt->toString(Qt::ISODate)));
    return result;
}

namespace {

// SIGINT, SIGTERM and SIGHUP reach the event loop through a pipe: the handler may only write to it.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// Ends the series as Stop does when the process is asked to end, also when the terminal of an
// SSH connection closes (SIGHUP); the step under way, if any, completes first, since the signal
// is handled between steps.
class StopOnSignal
{
public:
    explicit StopOnSignal(SeriesEngine &engine)
    {
        if (::pipe(signalPipe) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &engine, [this, &engine] {
            char byte;
            [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
            // Only a second signal ends the wait for the disk, also when the series had ended
            // by itself before the first.
            if (++m_signals == 1 && engine.isRecording())
                engine.stop();
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        // The terminal of an SSH connection that closed: the series ends as Stop ends it.
        ::sigaction(SIGHUP, &action, &m_oldHup);
    }
    ~StopOnSignal()
    {
        if (!m_notifier)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::sigaction(SIGHUP, &m_oldHup, nullptr);
        m_notifier.reset();
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }

    // Whether a second signal came: the wait for the disk should end too.
    bool askedAgain() const { return m_signals >= 2; }

private:
    int m_signals = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    struct sigaction m_oldHup = {};
};

void printError(const QString &text)
{
    std::fputs(qPrintable(unitLine(text)), stderr);
}

// How the series goes, on standard error: while it is a terminal one line updated in place every
// second unless quiet; a summary at the end, also where it is not a terminal, and lines of their own
// for the camera's loss and return and for messages in every case. A script that runs record
// quietly still learns how its series went.
class Progress
{
public:
    Progress(SeriesEngine &engine, bool quiet)
        : m_figures(engine), m_inPlace(!quiet && ::isatty(STDERR_FILENO))
    {
        QObject::connect(&engine, &SeriesEngine::cameraAway, &m_figures, [this](const QString &reason) {
            say(QStringLiteral("Camera lost after %1: %2. Trying to open it again.")
                    .arg(clockText(m_figures.figures().elapsedMs), reason));
        });
        QObject::connect(&engine, &SeriesEngine::cameraBack, &m_figures, [this] {
            say(QStringLiteral("Camera back after %1.").arg(clockText(m_figures.figures().elapsedMs)));
        });
        m_timer.setInterval(1000);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { show(); });
        if (m_inPlace)
            m_timer.start();
    }
    // A line of its own, with the progress line after it.
    void say(const QString &text)
    {
        clear();
        printError(text);
        show();
    }
    void finish(const QString &logPath)
    {
        m_timer.stop();
        clear();
        printError(summaryText(m_figures.figures(), logPath));
    }

private:
    void show()
    {
        if (!m_inPlace || !m_figures.isRunning())
            return;
        std::fprintf(stderr, "\r%s\033[K", qPrintable(progressText(m_figures.figures())));
        std::fflush(stderr);
        m_shown = true;
    }
    void clear()
    {
        if (std::exchange(m_shown, false))
            std::fputs("\r\033[K", stderr);
    }

    SeriesProgress m_figures;
    bool m_inPlace;
    bool m_shown = false;
    QTimer m_timer;
};

// The limits of a series that starts at `start`: --count, and the earlier of --duration and --until.
void setLimits(SeriesEngine &engine, const RecordSettings &settings, const QDateTime &start)
{
    std::optional<double> durationMs;
    if (settings.durationSeconds)
        durationMs = *settings.durationSeconds * 1000.0;
    if (settings.until)
        durationMs = std::min(durationMs.value_or(HUGE_VAL), double(start.msecsTo(*settings.until)));
    engine.setLimits(settings.count, durationMs);
}

// Waits in the event loop until a second before `startAt`, unless a signal comes first (false);
// the schedule sleeps the last second itself, to the instant.
bool waitForStart(SeriesEngine &engine, const QDateTime &startAt, const StopOnSignal &stopOnSignal)
{
    printError(QStringLiteral("Waiting to start at %1 (in %2).")
                   .arg(startAt.toString(Qt::ISODate), spanText(QDateTime::currentDateTime().msecsTo(startAt) / 1000.0)));
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stopOnSignal.askedAgain() || QDateTime::currentDateTime().msecsTo(startAt) <= 1000)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    if (stopOnSignal.askedAgain())
        return false;
    const qint64 leftMs = QDateTime::currentDateTime().msecsTo(startAt);
    engine.setStartInstant(leftMs > 0 ? std::optional(stopwatchClockNs() + leftMs * 1'000'000) : std::nullopt);
    return true;
}

} // namespace

int runRecord(const RecordSettings &settings)
{
    SeriesEngine engine;
    SeriesSetup setup(engine);
    const RecordRemote remote(engine); // scripts watch and stop the series on the session bus
    CaptureState &state = engine.state();
    state.BoardNumber = 0;
    setup.open(settings.driverPath);
    if (!setup.hasPicture()) {
        printError(QStringLiteral("Cannot open %1: %2").arg(settings.driverPath, engine.source().statusText()));
        return kExitRefused;
    }
    state.SaveDirectory = settings.directory;
    state.BaseName = settings.baseName;
    state.FileExtension = settings.extension;
    engine.timer().setInterval(settings.intervalMs);
    engine.setOptions(settings.options);
    if (const Status fits = setup.namesFit(); !fits) {
        printError(QStringLiteral("The base name is too long: %1").arg(fits.reason()));
        return kExitRefused;
    }
    setLimits(engine, settings, settings.startAt.value_or(QDateTime::currentDateTime()));
    engine.setStopOnCameraLoss(settings.stopOnCameraLoss);
    engine.setDiskReserve(settings.diskReserveBytes);
    // The name of the first picture, as the window shows it before Start.
    engine.compose();
    QString refusal =
        setup.startRefusal(StartRequest{state.FullFileName, settings.baseName, std::nullopt, state.FullFileName});
    // The window's box runs the name into the colon; a line on a terminal sets it apart.
    if (refusal.startsWith(QLatin1String(kFileExistsRefusal)))
        refusal.insert(qsizetype(qstrlen(kFileExistsRefusal)), u' ');
    if (!refusal.isEmpty()) {
        printError(refusal);
        return kExitRefused;
    }
    if (setup.cardIsSimulated() && (settings.options.channel0 || settings.options.channel1))
        printError(QStringLiteral("No analog card (/dev/comedi%1): the readings are simulated.").arg(state.BoardNumber));
    // A night of the test pattern must not pass for a night of the camera.
    if (engine.source().sourceName() == u"auto" && engine.source().cameraIdentity().source == u"test-pattern")
        printError(QStringLiteral("No camera found (source = auto): the pictures are the test pattern."));
    if (const QString note = engine.cameraRateNote(); !note.isEmpty())
        printError(QStringLiteral("Note: %1.").arg(note));
    if (const QString note = engine.diskForecast(); !note.isEmpty())
        printError(QStringLiteral("Disk: %1.").arg(note));
    if (const QString note = namesNote(settings.options); !note.isEmpty() && settings.count != 1)
        printError(QStringLiteral("Note: %1.").arg(note));
    // The window says nothing of this; a script learns it before the series runs, and its log too.
    const int bits = engine.source().firstFrame().significantBits;
    if (QString note = bitsLostNote(bits, significantBitsKept(bits, settings.extension), settings.extension);
        !note.isEmpty()) {
        note[0] = note[0].toUpper();
        printError(QStringLiteral("%1 (.tif and .mio keep them all).").arg(note));
    }

    int status = 0;
    bool logWarned = false;
    QEventLoop loop;
    Progress progress(engine, settings.quiet);
    QObject::connect(&engine, &SeriesEngine::stopped, &loop, [&](SeriesEvent why, const QString &message) {
        if (why == SeriesEvent::StepFailed) {
            progress.say(message);
            status = kExitFailed;
        }
        loop.quit();
    });
    QObject::connect(&engine, &SeriesEngine::saveFailed, &loop, [&](const QString &message) {
        progress.say(message);
        status = kExitFailed;
    });
    QObject::connect(&engine, &SeriesEngine::logWarning, &loop, [&](const QString &message) {
        progress.say(message);
        logWarned = true;
    });
    QObject::connect(&engine, &SeriesEngine::synced, &loop, [&](const QString &, const Status &result) {
        if (!result) {
            progress.say(result.reason());
            status = kExitFailed;
        }
    });
    const StopOnSignal stopOnSignal(engine);

    if (settings.startAt) {
        if (!waitForStart(engine, *settings.startAt, stopOnSignal)) {
            printError(QStringLiteral("Interrupted before the start: nothing was recorded."));
            return 0;
        }
        setLimits(engine, settings, *settings.startAt);
    }
    engine.start();
    if (engine.isRecording())
        loop.exec();
    // The pictures taken are still being written, then synced: a second signal ends the wait.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSyncWaitMs);
    const Clock::time_point noted = deadline - std::chrono::milliseconds(SeriesEngine::kNoteWaitMs);
    while (!engine.waitForSync(kSyncPollMs) && Clock::now() < noted && !stopOnSignal.askedAgain())
        QCoreApplication::processEvents();
    QCoreApplication::processEvents(); // what the writer reported last
    const bool synced = engine.waitForSync(0);
    const bool cutShort = stopOnSignal.askedAgain();
    const qint64 unsaved =
        engine.shutDown(cutShort ? Clock::now() + std::chrono::milliseconds(SeriesEngine::kNoteWaitMs) : deadline);
    if (unsaved > 0) {
        printError(QStringLiteral("%1 taken %2 not saved: %3.")
                       .arg(unsaved == 1 ? QStringLiteral("1 picture") : QStringLiteral("%1 pictures").arg(unsaved),
                            unsaved == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                            cutShort ? QStringLiteral("a second signal ended the wait for the disk")
                                     : QStringLiteral("the disk did not take them within %1 s").arg(kSyncWaitMs / 1000)));
        status = kExitFailed;
    } else if (!synced) {
        printError(QStringLiteral("The pictures are saved but have not all reached the disk yet."));
        status = kExitFailed;
    }
    if (const QString problem = engine.logProblem(); !problem.isEmpty() && !logWarned)
        printError(QStringLiteral("The series log cannot be written:\n%1").arg(problem));
    progress.finish(engine.logPath());
    if (!engine.logPath().isEmpty())
        std::printf("%s\n", qPrintable(engine.logPath()));
    return status;
}

int runRecordCommand(const QStringList &arguments)
{
    const RecordArguments parsed = parseRecordArguments(arguments);
    std::fputs(qPrintable(parsed.output), stdout);
    std::fputs(qPrintable(parsed.error), stderr);
    if (parsed.exitCode)
        return *parsed.exitCode;
    return runRecord(parsed.settings);
}
