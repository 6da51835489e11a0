// Per-picture save time in every format, beside the ceilings measured in the same run:
// a raw write of the file's bytes in 64 KiB pieces, and a bare TurboJPEG compress.
//
//   bench_image_files [directory] [repetitions]
//
// The pictures go into a scratch folder made inside the directory. Every picture gets a new
// name, as in a series, and is removed after its timing.
#include "bench_support.h"
#include "picture_files/image_files.h"
#include "picture_files/image_formats.h"
#include "picture_files/ome_xml.h"
#include "picture_files/picture_record.h"
#include "picture_files/safe_file.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

struct Stats
{
    double median = 0, p99 = 0, max = 0;
};

Stats summarize(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&ms](double q) {
        return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size() - 1) + 0.5))];
    };
    return {at(0.5), at(0.99), ms.back()};
}

// One way of writing a picture; `save` writes it to the path given.
struct Case
{
    std::string name;
    std::function<bool(const QString &)> save;
    std::vector<double> ms;
    const char *suffix = "raw"; // of the file written, which chooses the format
};

// Runs the cases round-robin in a new random order every round, so that a stall of the
// shared machine, or what one case leaves the page cache to do, hits them all alike. Every
// picture gets a new name and is removed untimed, as in a series.
void timeRoundRobin(const QString &dir, std::vector<Case> &cases, int repetitions)
{
    std::mt19937 random(7);
    std::vector<std::size_t> order(cases.size());
    std::iota(order.begin(), order.end(), 0);
    for (int i = 0; i < repetitions + 2; ++i) {
        std::shuffle(order.begin(), order.end(), random);
        for (const std::size_t c : order) {
            const QString path =
                QStringLiteral("%1/p%2-%3.%4").arg(dir).arg(i).arg(c).arg(QLatin1String(cases[c].suffix));
            QElapsedTimer timer;
            timer.start();
            const bool ok = cases[c].save(path);
            const double elapsed = double(timer.nsecsElapsed()) / 1e6;
            if (!ok) {
                std::fprintf(stderr, "%s failed\n", cases[c].name.c_str());
                std::exit(1);
            }
            QFile::remove(path);
            if (i >= 2) // the first rounds warm the caches and the allocator
                cases[c].ms.push_back(elapsed);
        }
    }
}

bool rawWrite(const QString &path, const char *data, std::size_t size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, std::min(size - done, SafeFile::pieceSize));
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += std::size_t(n);
    }
    return ::close(fd) == 0;
}

// A camera-like picture: smooth structure plus a little noise, so that JPEG has real work.
Frame benchFrame(PixelFormat format, int width, int height)
{
    Frame frame = Frame::allocate(width, height, format, format == PixelFormat::Mono16 ? 12 : 8);
    const int maxValue = (1 << frame.significantBits) - 1;
    QRandomGenerator random(42);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = frame.row(y);
        for (int x = 0; x < width * (format == PixelFormat::RGB8 ? 3 : 1); ++x) {
            const double u = double(x) / width, v = double(y) / height;
            double level =
                0.5 + 0.25 * std::sin(9.0 * u + 3.0 * v) * std::cos(7.0 * v) + 0.02 * (random.generateDouble() - 0.5);
            const int value = std::clamp(int(level * maxValue), 0, maxValue);
            if (format == PixelFormat::Mono16)
                qToLittleEndian<std::uint16_t>(std::uint16_t(value), row + 2 * x);
            else
                row[x] = std::uint8_t(value);
        }
    }
    return frame;
}

QByteArray eightBitPixels(const Frame &frame)
{
    if (frame.format != PixelFormat::Mono16)
        return frame.data;
    QByteArray grey(qsizetype(frame.width) * frame.height, Qt::Uninitialized);
    for (int y = 0; y < frame.height; ++y)
        reduceRowTo8Bits(frame.row(y), reinterpret_cast<std::uint8_t *>(grey.data()) + qsizetype(y) * frame.width,
                         frame.width, frame.significantBits);
    return grey;
}

QImage qtImage(const Frame &frame, const QByteArray &grey)
{
    if (frame.format == PixelFormat::RGB8)
        return QImage(reinterpret_cast<const uchar *>(frame.data.constData()), frame.width, frame.height, frame.stride,
                      QImage::Format_RGB888);
    return QImage(reinterpret_cast<const uchar *>(grey.constData()), frame.width, frame.height, frame.width,
                  QImage::Format_Grayscale8);
}

void printRow(const Case &c, const Case *baseline, const char *baselineName)
{
    const Stats s = summarize(c.ms);
    std::printf("  %-36s %8.2f %8.2f %8.2f", c.name.c_str(), s.median, s.p99, s.max);
    if (baseline)
        std::printf("   %5.2fx %s", s.median / summarize(baseline->ms).median, baselineName);
    std::printf("\n");
}

std::size_t savedSize(const Frame &frame, const QString &dir, const char *suffix)
{
    const QString probe = dir + QStringLiteral("/probe.") + QLatin1String(suffix);
    saveImage(frame, probe);
    const auto size = std::size_t(QFileInfo(probe).size());
    QFile::remove(probe);
    return size;
}

// Each format's save beside a raw write of as many bytes as its file has.
std::vector<Case> formatCases(const QString &dir, const Frame &frame, const QByteArray &bytes,
                              std::initializer_list<const char *> suffixes)
{
    std::vector<Case> cases;
    for (const char *suffix : suffixes) {
        const std::size_t size = savedSize(frame, dir, suffix);
        cases.push_back({"raw write of " + std::to_string(size) + " bytes",
                         [&bytes, size](const QString &p) { return rawWrite(p, bytes.constData(), size); },
                         {}});
        cases.push_back({std::string("saveImage .") + suffix,
                         [&frame](const QString &p) { return saveImage(frame, p).ok(); },
                         {},
                         suffix});
    }
    return cases;
}

void benchLossless(const QString &dir, const Frame &frame, const QByteArray &bytes, int repetitions)
{
    std::vector<Case> cases = formatCases(dir, frame, bytes, {"mio", "tif"});
    timeRoundRobin(dir, cases, repetitions);
    for (std::size_t i = 0; i < cases.size(); i += 2) {
        printRow(cases[i], nullptr, "");
        printRow(cases[i + 1], &cases[i], "of raw");
    }
}

// A series picture's record, with all a series and its camera tell.
ImageMetadata benchRecord()
{
    ImageMetadata m;
    m.captureTime = QDateTime::currentDateTime();
    m.picture = 1234;
    m.scheduledMs = 61700;
    m.stopwatchMs = 61700.254;
    m.frameMs = 61698.771;
    m.channel0 = ChannelSample{true, 2048, 106.0001220703125};
    m.channel1 = ChannelSample{true, 1021, 2.49267578125};
    m.exposureUs = 10000;
    m.gain = 6.02;
    m.gainUnit = QStringLiteral("dB");
    m.uuid = QUuid::createUuid();
    const QDateTime start = QDateTime::currentDateTime();
    m.origin = {start.toOffsetFromUtc(start.offsetFromUtc()), QStringLiteral("Probe_20260314-150926"), 50.0, 0.65,
                QStringLiteral("Aravis Fake"), QStringLiteral("GV01"), QStringLiteral("GFP")};
    return m;
}

// The record as `key=value` lines, as .tif pictures held it before their OME-XML.
QByteArray keyValueDescription(const ImageMetadata &record)
{
    QStringList lines;
    for (const auto &[key, value] : recordPairs(record, record.captureTime))
        lines << key + u'=' + value;
    return lines.join(u'\n').toLatin1();
}

// The .tif with its OME-XML beside the same file with the record as `key=value` lines, as saved
// before (each built for its picture), and the XML alone.
void benchOmeXml(const QString &dir, const Frame &frame, int repetitions)
{
    const ImageMetadata record = benchRecord();
    const auto save = [&](bool ome) {
        return [&, ome](const QString &p) {
            SafeFile file(p);
            if (!file.open())
                return false;
            const Status written =
                ome ? writeTiff(frame, record, file) : writeTiff(frame, record, keyValueDescription(record), file);
            return written.ok() && file.commit().ok();
        };
    };
    std::vector<Case> cases{{".tif, record as key=value (before)", save(false), {}, "tif"},
                            {".tif, record in OME-XML (as saved)", save(true), {}, "tif"},
                            {"  its OME-XML alone",
                             [&](const QString &) { return !pictureOmeXml(frame, record, QString()).isEmpty(); },
                             {}}};
    timeRoundRobin(dir, cases, repetitions);
    printRow(cases[0], nullptr, "");
    printRow(cases[1], &cases[0], "of before");
    printRow(cases[2], &cases[0], "of before");
}

// The bitmap also beside its conversion alone (grey 16 to 8 bits, RGB to BGR, rows bottom up)
// and Qt's writer, in a round of their own: their large allocations would slow the others.
void benchBitmap(const QString &dir, const Frame &frame, const QByteArray &bytes, int repetitions)
{
    std::vector<Case> cases = formatCases(dir, frame, bytes, {"bmp"});
    std::vector<std::uint8_t> rows(SafeFile::pieceSize + std::size_t(frame.stride));
    const auto convert = [&](const QString &) {
        const std::size_t rowBytes = std::size_t(frame.width) * (frame.format == PixelFormat::RGB8 ? 3 : 1);
        std::size_t used = 0;
        for (int y = frame.height - 1; y >= 0; --y, used += rowBytes) {
            if (used + rowBytes > SafeFile::pieceSize)
                used = 0;
            convertRowForBmp(frame, y, rows.data() + used);
        }
        return rows[0] != 1 || rows[1] != 2; // keeps the loop from being optimised away
    };
    const auto qtWriter = [&](const QString &p) {
        const QByteArray pixels = eightBitPixels(frame);
        return QImageWriter(p, "bmp").write(qtImage(frame, pixels));
    };
    cases.push_back({"  its conversion alone", convert, {}});
    cases.push_back({"Qt's BMP writer (with 16->8 bits)", qtWriter, {}, "bmp"});
    timeRoundRobin(dir, cases, repetitions);
    printRow(cases[0], nullptr, "");
    printRow(cases[1], &cases[0], "of raw");
    printRow(cases[2], nullptr, "");
    Case ceiling{"raw + conversion", {}, {}};
    for (std::size_t i = 0; i < cases[0].ms.size(); ++i)
        ceiling.ms.push_back(cases[0].ms[i] + cases[2].ms[i]);
    printRow({"  .bmp against raw + conversion", {}, cases[1].ms}, &ceiling, "of raw + conversion");
    printRow(cases[3], &cases[0], "of raw");
}

// How much a sync costs, in a round of its own so that its writeback does not slow the others.
void benchDurability(const QString &dir, const Frame &frame, int repetitions)
{
    std::vector<Case> cases;
    for (const auto &[name, durability] : {std::pair{".mio, cached (as saved)", Durability::Cached},
                                           std::pair{".mio, writeback started", Durability::StartWriteback},
                                           std::pair{".mio, fdatasync", Durability::Synced}}) {
        const auto save = [&frame, durability](const QString &p) {
            SafeFile file(p);
            return file.open().ok() && writeMio(frame, {}, file).ok() && file.commit(durability).ok();
        };
        cases.push_back({name, save, {}, "mio"});
    }
    timeRoundRobin(dir, cases, repetitions);
    for (const Case &c : cases)
        printRow(c, &cases[0], "of cached");
}

// How a save creates its file: unnamed and linked to its name (as saved), beside the named
// temporary file renamed over the target (as saved before, and still by ReplaceOwn where the file
// system has no unnamed files) and the same refusing a taken name (the fallback of CreateNew).
void benchCreation(const QString &dir, const Frame &frame, int repetitions)
{
    std::vector<Case> cases;
    for (const auto &[name, unnamed, mode] :
         {std::tuple{".mio, named temporary + rename (before)", false, SaveMode::ReplaceOwn},
          std::tuple{".mio, unnamed + link (as saved)", true, SaveMode::CreateNew},
          std::tuple{".mio, named temporary + renameat2", false, SaveMode::CreateNew}}) {
        const auto save = [&frame, unnamed, mode](const QString &p) {
            SafeFile::setUnnamedFiles(unnamed);
            SafeFile file(p, mode);
            const bool ok = file.open().ok() && writeMio(frame, {}, file).ok() && file.commit().ok();
            SafeFile::setUnnamedFiles(true);
            return ok;
        };
        cases.push_back({name, save, {}, "mio"});
    }
    timeRoundRobin(dir, cases, repetitions);
    for (const Case &c : cases)
        printRow(c, &cases[0], "of before");
}

// The JPEG ceiling: the bare compress of the 8-bit picture with a handle and buffer set up
// once, plus the raw write of its output.
void benchJpeg(const QString &dir, const Frame &frame, int repetitions)
{
    const QByteArray grey = eightBitPixels(frame);
    const bool colour = frame.format == PixelFormat::RGB8;
    const int subsampling = colour ? TJSAMP_420 : TJSAMP_GRAY;
    tjhandle handle = tjInitCompress();
    const unsigned long capacity = tjBufSize(frame.width, frame.height, subsampling);
    unsigned char *buffer = tjAlloc(int(capacity));
    unsigned long jpegSize = 0;
    const auto compress = [&]() {
        jpegSize = capacity;
        return tjCompress2(handle, reinterpret_cast<const unsigned char *>(grey.constData()), frame.width, 0,
                           frame.height, colour ? TJPF_RGB : TJPF_GRAY, &buffer, &jpegSize, subsampling, jpegQuality,
                           TJFLAG_NOREALLOC) == 0;
    };
    compress();
    std::vector<Case> cases;
    cases.push_back({"bare TurboJPEG compress", [&](const QString &) { return compress(); }, {}});
    cases.push_back({"raw write of its " + std::to_string(jpegSize) + " bytes",
                     [&](const QString &p) { return rawWrite(p, reinterpret_cast<const char *>(buffer), jpegSize); },
                     {}});
    cases.push_back({"saveImage .jpg", [&frame](const QString &p) { return saveImage(frame, p).ok(); }, {}, "jpg"});
    timeRoundRobin(dir, cases, repetitions);
    tjFree(buffer);
    tjDestroy(handle);
    printRow(cases[0], nullptr, "");
    printRow(cases[1], nullptr, "");
    Case ceiling{"compress + raw write", {}, {}};
    for (std::size_t i = 0; i < cases[0].ms.size(); ++i)
        ceiling.ms.push_back(cases[0].ms[i] + cases[1].ms[i]);
    printRow(cases[2], &ceiling, "of compress + raw");
}

void benchOne(const QString &dir, PixelFormat format, int width, int height, int repetitions)
{
    const Frame frame = benchFrame(format, width, height);
    std::printf("\n%dx%d %s (%.1f MB)%*s median      p99      max   ratio\n", width, height,
                qPrintable(pixelFormatName(format)), double(frame.data.size()) / 1e6, 12, "");
    const QByteArray bytes(qsizetype(savedSize(frame, dir, "tif")) + 4096, '\x5a');
    benchLossless(dir, frame, bytes, repetitions);
    benchOmeXml(dir, frame, repetitions);
    benchBitmap(dir, frame, bytes, repetitions);
    benchDurability(dir, frame, repetitions);
    benchCreation(dir, frame, repetitions);
    benchJpeg(dir, frame, repetitions);
}

// Why SafeFile writes whole 64 KiB pieces at 64 KiB offsets: the same 12 MiB written in other ways.
void benchWritePattern(const QString &dir, int repetitions)
{
    const QByteArray bytes(12 << 20, '\x5a');
    const auto pattern = [&bytes](std::size_t head, std::size_t piece) {
        return [&bytes, head, piece](const QString &p) {
            const int fd = ::open(QFile::encodeName(p).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            bool ok = fd >= 0 && (head == 0 || ::write(fd, bytes.constData(), head) == ssize_t(head));
            for (std::size_t done = head; ok && done < std::size_t(bytes.size());) {
                const ssize_t n =
                    ::write(fd, bytes.constData() + done, std::min(std::size_t(bytes.size()) - done, piece));
                ok = n > 0;
                done += std::size_t(std::max<ssize_t>(n, 0));
            }
            return ::close(fd) == 0 && ok;
        };
    };
    std::vector<Case> cases{{"64 KiB pieces at 64 KiB offsets", pattern(0, 64 << 10), {}},
                            {"64 KiB pieces after a 54-byte header", pattern(54, 64 << 10), {}},
                            {"60 KiB pieces", pattern(0, 60 << 10), {}},
                            {"6 KiB pieces (one bitmap row each)", pattern(0, 6 << 10), {}},
                            {"1 MiB pieces", pattern(0, 1 << 20), {}}};
    timeRoundRobin(dir, cases, repetitions);
    std::printf("\nWriting 12 MiB%*s median      p99      max   ratio\n", 24, "");
    for (const Case &c : cases)
        printRow(c, &cases[0], "of aligned 64 KiB");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::unique_ptr<QTemporaryDir> scratch =
        makeScratchFolder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(), QStringLiteral("bench-files"));
    if (!scratch)
        return 1;
    const QString dir = scratch->path();
    const int repetitions = argc > 2 ? std::max(3, std::atoi(argv[2])) : 31;
    std::printf("Saving pictures into %s, %d repetitions each; milliseconds per picture.\n", qPrintable(dir),
                repetitions);
    const std::pair<int, int> sizes[] = {{640, 480}, {1920, 1080}, {2048, 2048}};
    for (const auto &[width, height] : sizes)
        for (PixelFormat format : {PixelFormat::Mono8, PixelFormat::Mono16, PixelFormat::RGB8})
            benchOne(dir, format, width, height, repetitions);
    benchWritePattern(dir, repetitions);
    return 0;
}
