// Big pictures at the fastest interval: `record` series of a 4096x3000 test pattern in Mono8 and
// Mono16, as .mio, .tif and .jpg, beside a 256x256 Mono16 series whose schedule has nothing to
// carry; and for each cell the writer's throughput against a raw write loop of the same bytes,
// measured in the same run, so that a busy disk or machine weighs on both alike.
//
// Run:  build/bin/bench_big_frames DIR [pictures] [interval-ms] [rounds] [saves]
// Defaults: 3 rounds of 100 pictures every 50 ms per cell; 30 saves per cell for the throughput.
// DIR must exist; everything is written into a fresh folder inside it and removed afterwards.
//
// Per cell: the ticks missed in all rounds (in brackets, those of them the writer's queue had no
// room for, as the log tells); the lateness of every picture (stopwatch_ms - scheduled_ms of its
// log row: median, p99, max); the writer's MB/s, from the median time of a save of the frame
// through saveImage as the series' writer saves it; the raw MB/s, from the median time of writing
// the frame's bytes to a new file with write(2) in the writer's 64 KiB pieces, the two taken in
// turns; and their ratio. A .jpg writes little: its ratio says how its saves compare with writing
// the frame's bytes raw.

#include "bench_support.h"
#include "cameras/pattern_generator.h"
#include "picture_files/image_files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

namespace {

struct Cell
{
    std::vector<double> lateness; // ms, of every picture saved in every round
    int missed = 0;
    int queueFull = 0; // of them, ticks the writer's queue had no room for: the disk fell behind
    int failedRuns = 0; // record runs that did not exit 0
};

// One record run; its log's rows go into `cell`.
void recordSeries(const QString &driver, const QString &type, int pictures, int interval, const QString &dir,
                  Cell &cell)
{
    QProcess record;
    record.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pictures-in-a-row"),
                 {QStringLiteral("record"), QStringLiteral("--driver"), driver, QStringLiteral("--dir"), dir,
                  QStringLiteral("--name"), QStringLiteral("big"), QStringLiteral("--type"), type,
                  QStringLiteral("--interval"), QString::number(interval), QStringLiteral("--add"),
                  QStringLiteral("number"), QStringLiteral("--count"), QString::number(pictures),
                  QStringLiteral("--quiet")});
    record.waitForFinished(-1);
    if (record.exitStatus() != QProcess::NormalExit || record.exitCode() != 0) {
        ++cell.failedRuns;
        std::fprintf(stderr, "%s", record.readAllStandardError().constData());
    }
    QFile log(QString::fromUtf8(record.readAllStandardOutput()).trimmed());
    if (!log.open(QIODevice::ReadOnly))
        return;
    // A missed tick has no row: the ticks up to the last picture's, less the pictures saved.
    int saved = 0;
    double lastScheduled = 0;
    static const QRegularExpression roomAgain(QStringLiteral("^# queue has room again at \\d+ ms \\((\\d+) ticks? missed"));
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (const QRegularExpressionMatch m = roomAgain.match(QString::fromUtf8(line)); m.hasMatch())
            cell.queueFull += m.captured(1).toInt();
        const QList<QByteArray> f = line.split(',');
        if (f.size() < 10 || f[9] != "ok")
            continue;
        cell.lateness.push_back(f[4].toDouble());
        lastScheduled = f[2].toDouble();
        ++saved;
    }
    cell.missed += int(std::lround(lastScheduled / interval)) + 1 - saved;
}

void syncDisk(const QString &dir)
{
    const int dirFd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::syncfs(dirFd);
    ::close(dirFd);
}

// One file of `bytes` put at `path` with write(2) in the writer's 64 KiB pieces; ms, or -1.
double rawWrite(const QString &path, const QByteArray &bytes)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, std::size_t(std::min<qsizetype>(bytes.size() - done, 64 << 10)));
        if (n <= 0)
            return ::close(fd), -1;
        done += n;
    }
    ::close(fd);
    return clock.nsecsElapsed() / 1e6;
}

// One picture of `frame` saved at `path` as the series' writer saves it; ms, or -1.
double save(const QString &path, const Frame &frame, int number)
{
    QElapsedTimer clock;
    clock.start();
    ImageMetadata record;
    record.picture = number;
    return saveImage(frame, path, record) ? clock.nsecsElapsed() / 1e6 : -1;
}

// The median ms of a raw write and of a save of `count` pictures each, taken in turns so that
// the page cache and the disk's writeback weigh on both alike; the disk is synced before and
// after, outside the times, as the pictures of a series reach it after their saves.
std::pair<double, double> throughput(const QString &dir, const Frame &frame, const QString &type, int count)
{
    syncDisk(dir);
    std::vector<double> raw, saved;
    for (int i = 0; i < count; ++i) {
        raw.push_back(rawWrite(QStringLiteral("%1/raw_%2.bin").arg(dir).arg(i), frame.data));
        saved.push_back(save(QStringLiteral("%1/save_%2%3").arg(dir).arg(i).arg(type), frame, i + 1));
    }
    syncDisk(dir);
    return {median(raw), median(saved)};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s DIR [pictures] [interval-ms] [rounds] [saves]\n", argv[0]);
        return 2;
    }
    const std::unique_ptr<QTemporaryDir> tmp = makeScratchFolder(args[1], QStringLiteral("bench-big"));
    if (!tmp)
        return 1;
    const int pictures = args.size() > 2 ? args[2].toInt() : 100;
    const int interval = args.size() > 3 ? args[3].toInt() : 50;
    const int rounds = args.size() > 4 ? args[4].toInt() : 3;
    const int saveCount = args.size() > 5 ? args[5].toInt() : 30;
    constexpr int width = 4096, height = 3000;

    std::printf("%d x %d pictures every %d ms per cell; throughput from %d saves (MB/s, ratio = writer / raw)\n",
                rounds, pictures, interval, saveCount);
    std::printf("size      | format | type | missed (queue full) | late median |  p99 |   max | writer | raw    | ratio\n");
    std::vector<double> bigLateness, smallLateness;
    for (const char *format : {"Mono8", "Mono16"}) {
        const QString driver = writeTestPatternDriver(tmp->filePath(QStringLiteral("%1.vin").arg(format)), width,
                                                      height, format);
        const QString smallDriver = writeTestPatternDriver(
            tmp->filePath(QStringLiteral("small%1.vin").arg(format)), 256, 256, format);
        PixelFormat pixels = PixelFormat::Mono8;
        pixelFormatFromName(QString::fromLatin1(format), pixels);
        const Frame frame = PatternGenerator(width, height, pixels).frame(1);
        for (const char *type : {".mio", ".tif", ".jpg"}) {
            Cell big, small;
            // The big and the small series take turns, so that the machine's moods fall on both.
            for (int round = 0; round < rounds; ++round) {
                recordSeries(driver, QString::fromLatin1(type), pictures, interval,
                             freshSubfolder(*tmp, QStringLiteral("pictures")), big);
                recordSeries(smallDriver, QString::fromLatin1(type), pictures, interval,
                             freshSubfolder(*tmp, QStringLiteral("pictures")), small);
            }
            const auto [rawMs, saveMs] = throughput(freshSubfolder(*tmp, QStringLiteral("files")), frame,
                                                    QString::fromLatin1(type), saveCount);
            freshSubfolder(*tmp, QStringLiteral("files"));
            const double mb = double(frame.data.size()) / 1e3; // MB/s from ms
            for (const auto &[label, cell] : {std::pair<const char *, const Cell &>{"4096x3000", big},
                                              std::pair<const char *, const Cell &>{"256x256", small}}) {
                std::printf("%-9s | %-6s | %-4s | %6d (%3d)        | %11.3f | %4.2f | %5.2f", label, format, type,
                            cell.missed, cell.queueFull, median(cell.lateness), percentile(cell.lateness, 0.99),
                            percentile(cell.lateness, 1.0));
                if (&cell == &big)
                    std::printf(" | %6.0f | %6.0f | %5.2f", mb / saveMs, mb / rawMs, rawMs / saveMs);
                std::printf("%s\n", cell.failedRuns ? "  (a record run failed)" : "");
            }
            std::fflush(stdout);
            bigLateness.insert(bigLateness.end(), big.lateness.begin(), big.lateness.end());
            smallLateness.insert(smallLateness.end(), small.lateness.begin(), small.lateness.end());
        }
    }
    std::printf("lateness of every picture: 4096x3000 median %.3f ms p99 %.3f ms; 256x256 median %.3f ms p99 %.3f ms; "
                "ratio %.2f and %.2f\n",
                median(bigLateness), percentile(bigLateness, 0.99), median(smallLateness),
                percentile(smallLateness, 0.99), median(bigLateness) / median(smallLateness),
                percentile(bigLateness, 0.99) / percentile(smallLateness, 0.99));
    return 0;
}
