#include "recording/disk_space.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <sys/statvfs.h>

namespace {

// Room for a file's headers, palette and picture record beside its pixels.
constexpr std::int64_t kHeaderBytes = 64 << 10;

} // namespace

std::optional<std::int64_t> freeBytes(const QString &directory)
{
    // statvfs() rather than QStorageInfo, which reads the whole mount table each time: the
    // writer asks before every picture.
    QString path = QFileInfo(directory).absoluteFilePath();
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            return std::nullopt;
        path = parent;
    }
    struct statvfs info = {};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::int64_t(info.f_bavail) * std::int64_t(info.f_frsize);
}

std::int64_t pictureBytesAtMost(int width, int height, PixelFormat format, const QString &extension)
{
    const bool eightBits = extension == u".bmp" || extension == u".jpg";
    const int samples = format == PixelFormat::RGB8 ? 3 : 1;
    const int sampleBytes = eightBits ? 1 : bytesPerPixel(format) / samples;
    std::int64_t row = std::int64_t(width) * samples * sampleBytes;
    if (extension == u".bmp")
        row = (row + 3) / 4 * 4;
    return row * height + kHeaderBytes;
}

std::int64_t diskReserve(std::int64_t pictureBytes, std::optional<std::int64_t> chosen)
{
    return chosen ? *chosen : std::max(kReservePictures * pictureBytes, kReserveFloorBytes);
}

QString diskForecast(const DiskPlan &plan)
{
    const std::int64_t room = plan.freeBytes - plan.reserveBytes;
    const QString free = QStringLiteral("%1 free").arg(bytesText(plan.freeBytes));
    const QString reserve = QStringLiteral("the reserve of %1").arg(bytesText(plan.reserveBytes));
    const std::int64_t fit = room > 0 && plan.pictureBytes > 0 ? room / plan.pictureBytes : 0;
    if (fit == 0)
        return QStringLiteral("%1, not enough above %2 for one picture: the series will end at its first")
            .arg(free, reserve);
    if (plan.pictures) {
        if (*plan.pictures <= fit)
            return {};
        return QStringLiteral("%1; the series needs about %2 above %3 and will end after about %4 of its %5 pictures")
            .arg(free, bytesText(*plan.pictures * plan.pictureBytes), reserve)
            .arg(fit)
            .arg(*plan.pictures);
    }
    const double bytesPerSecond = double(plan.pictureBytes) * 1000.0 / std::max(1, plan.intervalMs);
    const std::optional<double> seconds = secondsUntilReserve(plan.freeBytes, plan.reserveBytes, bytesPerSecond);
    if (!seconds || *seconds >= 3600.0)
        return {};
    return QStringLiteral("%1; at %2 a second the series reaches %3 in about %4")
        .arg(free, bytesText(std::llround(bytesPerSecond)), reserve, spanText(*seconds));
}

std::optional<double> secondsUntilReserve(std::int64_t freeBytes, std::int64_t reserveBytes, double bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return std::nullopt;
    return std::max(0.0, double(freeBytes - reserveBytes) / bytesPerSecond);
}

QString spanText(double seconds)
{
    const qint64 s = std::llround(std::max(0.0, seconds));
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min").arg(s / 60);
    const qint64 minutes = s / 60;
    if (minutes < 48 * 60)
        return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 days").arg(minutes / (24 * 60));
}

QString bytesText(std::int64_t bytes)
{
    static const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    int unit = 0;
    while (std::abs(value) >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    // One decimal below ten units, so that 1.5 GiB is not called 2 GiB.
    const int decimals = unit > 0 && std::abs(value) < 10.0 ? 1 : 0;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

std::optional<std::int64_t> parseByteSize(const QString &text)
{
    static const QRegularExpression size(QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*([kmgt]?)(?:i?b)?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = size.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int shift = 10 * int(QStringLiteral("kmgt").indexOf(match.captured(2).toLower()) + 1);
    const double bytes = std::ldexp(match.captured(1).toDouble(), match.captured(2).isEmpty() ? 0 : shift);
    // A byte is whole, and a size past an exbibyte is a typing error.
    if (bytes >= std::ldexp(1.0, 60) || (match.captured(2).isEmpty() && bytes != std::floor(bytes)))
        return std::nullopt;
    return std::int64_t(bytes);
}

DiskGuard::DiskGuard(const QString &directory, std::int64_t firstPictureBytes, std::optional<std::int64_t> chosenReserve,
                     int intervalMs)
    : m_directory(directory), m_estimate(firstPictureBytes), m_chosen(chosenReserve), m_intervalMs(intervalMs)
{
}

Status DiskGuard::roomForNext()
{
    m_free = freeBytes(m_directory);
    // A file system that does not tell its room is left to tell when it is full.
    if (m_free && *m_free - m_estimate < diskReserve(m_estimate, m_chosen))
        return Status::failure(QStringLiteral("the disk is nearly full"));
    return Status::success();
}

void DiskGuard::saved(std::int64_t bytes, double stopwatchMs)
{
    m_estimate = m_savedPictures == 0 ? bytes : std::max(m_estimate, bytes);
    m_savedBytes += bytes;
    ++m_savedPictures;
    m_lastMs = stopwatchMs;
    if (m_free)
        *m_free -= bytes;
}

std::optional<double> DiskGuard::secondsLeft() const
{
    if (m_savedPictures == 0 || !m_free)
        return std::nullopt;
    // Pictures a second so far: n pictures by the n-th tick's end, also for the first alone.
    const double picturesPerSecond = double(m_savedPictures) * 1000.0 / (m_lastMs + m_intervalMs);
    const double bytesPerSecond = picturesPerSecond * double(m_savedBytes) / double(m_savedPictures);
    return secondsUntilReserve(*m_free, diskReserve(m_estimate, m_chosen), bytesPerSecond);
}
