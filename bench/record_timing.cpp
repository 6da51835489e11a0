// How exactly a series keeps to its schedule through the window and through `record`, beside a
// bare repeating precise QTimer and a bare thread that sleeps to absolute deadlines at the same
// interval, all in one run, on a quiet machine and with the other core kept busy; a `record`
// stopped for a while; and the memory of a long `record`.
//
// Run:  QT_QPA_PLATFORM=offscreen build/bin/bench_record_timing timing DIR [pictures] [interval-ms]
//       build/bin/bench_record_timing stop DIR [pictures] [interval-ms] [stop-ms]
//       build/bin/bench_record_timing memory DIR [pictures] [interval-ms]
// DIR must exist; everything is written into a fresh folder inside it and removed afterwards.
// timing: 200 pictures at 50 ms of a 2048x2048 Mono8 test pattern per format, by default; the
//   error of a picture is stopwatch_ms - scheduled_ms of its log row.
// stop: the record process is stopped (SIGSTOP) for 330 ms a third into its series and then
//   continued: the ticks missed, and the lateness of the pictures after the stop.
// memory: 20000 pictures at 50 ms of a 256x256 Mono8 test pattern as .bmp; resident memory of the
// record process at its first picture, after 1000 and at the end.
// bus (under dbus-run-session): the same series as timing, as .mio, through the window and through
//   record, each with no session bus, on the bus with nobody listening, and with a client subscribed
//   to every signal (gdbus monitor), in [rounds] rounds (3 by default).
//       dbus-run-session -- build/bin/bench_record_timing bus DIR [pictures] [interval-ms] [rounds]

#include "bench_support.h"
#include "analog/simulated_card.h"
#include "remote/bus_names.h"
#include "remote/remote_control.h"
#include "ui/form1.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <thread>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Timing
{
    std::vector<double> errors; // start of each step (or tick) minus its due time, ms
    int missed = 0;
};

void print(const char *what, const char *type, const Timing &t)
{
    std::printf("%-7s | %-4s | %6.2f | %6.2f | %7.2f | %d | %zu\n", what, type, median(t.errors),
                percentile(t.errors, 0.99), percentile(t.errors, 1.0), t.missed, t.errors.size());
}

// Ticks that came too late are dropped, not made up: the pictures that follow are renumbered
// and their lateness grows by an interval for each one lost.
Timing fromLog(const QString &logPath, int interval)
{
    Timing t;
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return t;
    double lastStopwatch = 0;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() < 10 || f[9] != "ok")
            continue;
        t.errors.push_back(f[4].toDouble());
        lastStopwatch = f[3].toDouble();
    }
    if (!t.errors.empty())
        t.missed = int(std::floor(lastStopwatch / interval + 0.5)) - int(t.errors.size() - 1);
    return t;
}

Timing bareTimer(int ticks, int interval)
{
    Timing t;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(interval);
    QElapsedTimer clock;
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        t.errors.push_back(now - double(t.errors.size() + 1) * interval);
        if (int(t.errors.size()) >= ticks - 1)
            loop.quit();
    });
    clock.start();
    timer.start();
    loop.exec();
    t.missed = int(std::floor(clock.nsecsElapsed() / 1e6 / interval)) - int(t.errors.size());
    return t;
}

// The floor of a schedule: a thread that sleeps to start + k x interval on CLOCK_MONOTONIC with
// the least timer slack, at real-time priority where it is granted.
Timing deadlineThread(int ticks, int interval)
{
    Timing t;
    std::thread([&] {
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        sched_param param{};
        param.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        const std::int64_t startNs = std::int64_t(start.tv_sec) * 1'000'000'000 + start.tv_nsec;
        for (int k = 1; k < ticks; ++k) {
            const std::int64_t due = startNs + std::int64_t(k) * interval * 1'000'000;
            const timespec deadline{time_t(due / 1'000'000'000), long(due % 1'000'000'000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
            }
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            t.errors.push_back(double(std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec - due) / 1e6);
        }
    }).join();
    return t;
}

// A process of ours for as long as this object lives: `program` with `arguments`, its standard
// output into `outputFile` where one is given. Nothing runs for an empty program.
class Child
{
public:
    Child(const QString &program, const QStringList &arguments, const QString &outputFile = {})
    {
        if (program.isEmpty())
            return;
        if (!outputFile.isEmpty())
            m_process.setStandardOutputFile(outputFile);
        m_process.start(program, arguments);
        m_process.waitForStarted();
    }
    ~Child()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill(); // our own child, by its PID
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
};

// gdbus monitor: a client subscribed to every signal of the program with the bus name `name`.
QStringList monitorArguments(const QString &name)
{
    return {QStringLiteral("monitor"), QStringLiteral("--session"), QStringLiteral("--dest"), name};
}

Timing windowSeries(Form1 &form, const QString &type, int pictures, int interval, const QString &dir,
                    const QString &baseName = {})
{
    form.state().SaveDirectory = dir + QLatin1Char('/');
    form.state().FileExtension = type;
    form.SaveText->setText(baseName.isEmpty() ? QStringLiteral("window%1").arg(type.mid(1)) : baseName);
    form.Timer1->setInterval(interval);
    form.StartStop->click();
    while (form.state().Recording == RecordingState::Recording && form.state().FrameCounter <= pictures)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (form.state().Recording == RecordingState::Recording)
        form.StartStop->click();
    return fromLog(form.engine().logPath(), interval);
}

// How many times the watcher's file says `what`.
qsizetype heard(const QString &file, const char *what)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count(what) : 0;
}

Timing recordSeries(const QString &driver, const QString &type, int pictures, int interval, const QString &dir,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                    const QString &watcherFile = {})
{
    QProcess record;
    record.setProcessEnvironment(environment);
    record.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pictures-in-a-row"),
                 {QStringLiteral("record"), QStringLiteral("--driver"), driver, QStringLiteral("--dir"), dir,
                  QStringLiteral("--name"), QStringLiteral("record%1").arg(type.mid(1)), QStringLiteral("--type"), type,
                  QStringLiteral("--interval"), QString::number(interval), QStringLiteral("--add"),
                  QStringLiteral("number"), QStringLiteral("--count"), QString::number(pictures),
                  QStringLiteral("--quiet")});
    const Child watcher(watcherFile.isEmpty() ? QString() : QStringLiteral("gdbus"),
                        monitorArguments(recordServiceName(record.processId())), watcherFile);
    record.waitForFinished(-1);
    return fromLog(QString::fromUtf8(record.readAllStandardOutput()).trimmed(), interval);
}

// The window of the series here: names with the number only, as record's --add number gives them.
std::unique_ptr<Form1> numberedWindow(const QString &driver)
{
    setMessageSink([](const QString &text) { std::printf("message: %s\n", qPrintable(text)); });
    auto form = std::make_unique<Form1>(driver, std::make_unique<SimulatedCard>());
    form->show();
    form->NumberCheck->setChecked(true);
    form->TimeCheck->setChecked(false);
    form->Channel0Check->setChecked(false);
    form->Channel1Check->setChecked(false);
    return form;
}

int timing(const QTemporaryDir &tmp, int pictures, int interval, bool busy)
{
    // Keeps the other core busy: a process of this program that spins.
    const Child load(busy ? QCoreApplication::applicationFilePath() : QString(), {QStringLiteral("spin")});
    const QString driver = writeTestPatternDriver(tmp.filePath(QStringLiteral("camera.vin")), 2048, 2048);
    const std::unique_ptr<Form1> window = numberedWindow(driver);
    Form1 &form = *window;
    std::printf("%d pictures of 2048x2048 Mono8 every %d ms (errors in ms), %s\n", pictures, interval,
                busy ? "the other core kept busy" : "a quiet machine");
    std::printf("series  | type | median |    p99 |     max | missed | steps\n");
    print("timer", "-", bareTimer(pictures, interval));
    print("thread", "-", deadlineThread(pictures, interval));
    for (const char *type : {".bmp", ".tif", ".jpg", ".mio"}) {
        const QString name = QString::fromLatin1(type);
        const QString dir = freshSubfolder(tmp, QStringLiteral("pictures"));
        if (dir.isEmpty())
            return 1;
        print("window", type, windowSeries(form, name, pictures, interval, dir));
        print("record", type, recordSeries(driver, name, pictures, interval, dir));
        print("timer", "-", bareTimer(pictures, interval));
        print("thread", "-", deadlineThread(pictures, interval));
    }
    return 0;
}

// The series' timing with scripts on the session bus: no bus, the bus with nobody listening, and a
// client subscribed to every signal, taken in turns so that the machine's moods fall on all three.
int busTiming(const QTemporaryDir &tmp, int pictures, int interval, int rounds)
{
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::fprintf(stderr, "bus needs a session bus: run it under dbus-run-session\n");
        return 2;
    }
    const QString driver = writeTestPatternDriver(tmp.filePath(QStringLiteral("camera.vin")), 2048, 2048);
    const std::unique_ptr<Form1> window = numberedWindow(driver);
    Form1 &form = *window;
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY"})
        noBus.remove(QLatin1String(name));
    const QString heardFile = tmp.filePath(QStringLiteral("heard.txt"));
    const char *variants[] = {"no bus", "bus", "watched"};
    std::map<std::string, std::vector<double>> errors; // of every picture of a kind, in all rounds
    auto report = [&](const char *series, int v, const Timing &t) {
        std::printf("%-7s | %-7s | %6.3f | %6.2f | %7.2f | %d | %zu | %lld\n", series, variants[v], median(t.errors),
                    percentile(t.errors, 0.99), percentile(t.errors, 1.0), t.missed, t.errors.size(),
                    (long long)heard(heardFile, "PictureSaved ("));
        std::vector<double> &all = errors[std::string(series) + " " + variants[v]];
        all.insert(all.end(), t.errors.begin(), t.errors.end());
    };
    std::printf("%d pictures of 2048x2048 Mono8 as .mio every %d ms (errors in ms)\n", pictures, interval);
    std::printf("series  | bus     | median |    p99 |     max | missed | steps | signals heard\n");
    for (int round = 0; round < rounds; ++round) {
        // Each round begins with another of the three, so that none always follows the same one.
        for (int k = 0; k < 3; ++k) {
            const int v = (round + k) % 3;
            const QString dir = freshSubfolder(tmp, QStringLiteral("pictures"));
            if (dir.isEmpty())
                return 1;
            QFile::remove(heardFile);
            Timing t;
            {
                const std::unique_ptr<RemoteControl> remote =
                    v > 0 ? std::make_unique<RemoteControl>(form, windowServiceName()) : nullptr;
                const Child watcher(v == 2 ? QStringLiteral("gdbus") : QString(), monitorArguments(windowServiceName()),
                                    heardFile);
                for (int wait = 0; v == 2 && wait < 250 && heard(heardFile, "is owned by") == 0; ++wait)
                    QThread::msleep(20);
                t = windowSeries(form, QStringLiteral(".mio"), pictures, interval, dir,
                                 QStringLiteral("window%1_%2").arg(round).arg(v));
            }
            report("window", v, t);
            QFile::remove(heardFile);
            t = recordSeries(driver, QStringLiteral(".mio"), pictures, interval,
                             freshSubfolder(tmp, QStringLiteral("pictures")),
                             v == 0 ? noBus : QProcessEnvironment::systemEnvironment(), v == 2 ? heardFile : QString());
            report("record", v, t);
        }
    }
    std::printf("median error of all the pictures of each kind in the %d rounds, and its ratio to the series without a "
                "bus and to the series on the bus with nobody listening:\n",
                rounds);
    for (const char *series : {"window", "record"}) {
        const double none = median(errors[std::string(series) + " no bus"]);
        const double bus = median(errors[std::string(series) + " bus"]);
        for (const char *variant : variants) {
            const double m = median(errors[std::string(series) + " " + variant]);
            std::printf("  %s %-7s %.4f ms  x%.3f  x%.3f\n", series, variant, m, m / none, m / bus);
        }
    }
    return 0;
}

// A record that the system stops for `stopMs` a third into its series: the ticks missed, and how
// late the pictures after the stop were taken.
int stopped(const QTemporaryDir &tmp, int pictures, int interval, int stopMs)
{
    const QString driver = writeTestPatternDriver(tmp.filePath(QStringLiteral("camera.vin")), 2048, 2048);
    const QString dir = tmp.filePath(QStringLiteral("stop"));
    QProcess record;
    record.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pictures-in-a-row"),
                 {QStringLiteral("record"), QStringLiteral("--driver"), driver, QStringLiteral("--dir"), dir,
                  QStringLiteral("--type"), QStringLiteral(".mio"), QStringLiteral("--interval"), QString::number(interval),
                  QStringLiteral("--add"), QStringLiteral("number"), QStringLiteral("--count"),
                  QString::number(pictures), QStringLiteral("--quiet")});
    record.waitForStarted();
    QThread::msleep(std::uint64_t(pictures) * std::uint64_t(interval) / 3);
    const qint64 pid = record.processId();
    ::kill(pid_t(pid), SIGSTOP);
    QThread::msleep(std::uint64_t(stopMs));
    ::kill(pid_t(pid), SIGCONT);
    record.waitForFinished(-1);
    QFile log(QString::fromUtf8(record.readAllStandardOutput()).trimmed());
    if (!log.open(QIODevice::ReadOnly))
        return 1;
    // The picture after the longest gap between neighbouring rows is the first after the stop.
    std::vector<double> scheduled, late;
    QString end;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(',');
        if (line.startsWith("# end: "))
            end = QString::fromUtf8(line);
        if (f.size() < 10 || f[9] != "ok")
            continue;
        scheduled.push_back(f[2].toDouble());
        late.push_back(f[4].toDouble());
    }
    std::size_t after = 1;
    for (std::size_t i = 1; i < scheduled.size(); ++i)
        if (scheduled[i] - scheduled[i - 1] > scheduled[after] - scheduled[after - 1])
            after = i;
    const std::vector<double> before(late.begin(), late.begin() + std::ptrdiff_t(after));
    const std::vector<double> later(late.begin() + std::ptrdiff_t(std::min(after + 1, late.size())), late.end());
    std::printf("record of %d pictures every %d ms, stopped for %d ms: %s\n", pictures, interval, stopMs,
                qPrintable(end));
    std::printf("  gap at picture %zu: %.0f ms of schedule; that picture %.3f ms late\n", after + 1,
                scheduled[after] - scheduled[after - 1], late[after]);
    std::printf("  lateness before the stop: median %.3f, max %.3f ms; after it: median %.3f, max %.3f ms\n",
                median(before), percentile(before, 1.0), median(later), percentile(later, 1.0));
    return 0;
}

long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int memory(const QTemporaryDir &tmp, int pictures, int interval)
{
    const QString driver = writeTestPatternDriver(tmp.filePath(QStringLiteral("small.vin")), 256, 256);
    const QString dir = tmp.filePath(QStringLiteral("memory"));
    QProcess record;
    record.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pictures-in-a-row"),
                 {QStringLiteral("record"), QStringLiteral("--driver"), driver, QStringLiteral("--dir"), dir,
                  QStringLiteral("--interval"), QString::number(interval), QStringLiteral("--add"),
                  QStringLiteral("number"), QStringLiteral("--count"), QString::number(pictures),
                  QStringLiteral("--quiet")});
    record.waitForStarted();
    const qint64 pid = record.processId();
    std::printf("record of %d pictures of 256x256 Mono8 every %d ms: resident memory\n", pictures, interval);
    const std::pair<int, const char *> marks[] = {{1, "first picture"}, {1000, "after 1000"}};
    long last = -1;
    for (const auto &[count, label] : marks) {
        const QString file = QStringLiteral("%1/VideoBasename_%2.bmp").arg(dir).arg(count, 3, 10, QLatin1Char('0'));
        while (!QFileInfo::exists(file) && record.state() == QProcess::Running)
            record.waitForFinished(20);
        std::printf("  %-14s %ld KiB\n", label, residentKiB(pid));
    }
    // The last reading before the process ends.
    while (!record.waitForFinished(200))
        if (const long kib = residentKiB(pid); kib > 0)
            last = kib;
    std::printf("  %-14s %ld KiB (exit %d)\n", "end", last, record.exitCode());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "spin") {
        std::atomic<unsigned long> spins{0};
        for (;;)
            spins.fetch_add(1, std::memory_order_relaxed);
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (!QStringList{QStringLiteral("timing"), QStringLiteral("stop"), QStringLiteral("memory"), QStringLiteral("bus")}
             .contains(mode) ||
        args.size() < 3) {
        std::fprintf(stderr, "usage: %s timing|stop|memory|bus DIR [pictures] [interval-ms] [stop-ms|rounds]\n",
                     argv[0]);
        return 2;
    }
    const std::unique_ptr<QTemporaryDir> tmp = makeScratchFolder(args[2], QStringLiteral("bench-record"));
    if (!tmp)
        return 1;
    const int pictures = args.size() > 3 ? args[3].toInt() : (mode == u"memory" ? 20000 : 200);
    const int interval = args.size() > 4 ? args[4].toInt() : 50;
    if (mode == u"memory")
        return memory(*tmp, pictures, interval);
    if (mode == u"stop")
        return stopped(*tmp, pictures, interval, args.size() > 5 ? args[5].toInt() : 330);
    if (mode == u"bus")
        return busTiming(*tmp, pictures, interval, args.size() > 5 ? args[5].toInt() : 3);
    return timing(*tmp, pictures, interval, false) + timing(*tmp, pictures, interval, true);
}
