#pragma once

#include "base/frame.h"
#include "base/status.h"

#include <QString>

#include <cstdint>
#include <optional>

// The disk a series writes to: the room it has, what a picture takes, and the reserve a series
// leaves free on it for everything else, the series' own log included.

// The reserve, unless chosen otherwise: the larger of this many pictures and this many bytes.
inline constexpr int kReservePictures = 10;
inline constexpr std::int64_t kReserveFloorBytes = std::int64_t(256) << 20;

// Bytes free for this user on the file system of `directory`, or of the nearest folder above it
// that exists (a series makes its directory with its first picture); none when it cannot be told.
std::optional<std::int64_t> freeBytes(const QString &directory);
// The most a picture of `width` × `height` in `format` takes in a file of `extension`: every
// format but .jpg stores its pixels as they are, and no .jpg is larger than that.
std::int64_t pictureBytesAtMost(int width, int height, PixelFormat format, const QString &extension);
// The reserve: `chosen` where it is given, else the larger of ten pictures and 256 MiB.
std::int64_t diskReserve(std::int64_t pictureBytes, std::optional<std::int64_t> chosen);

// What a series is about to write, against the room on its disk.
struct DiskPlan
{
    std::int64_t freeBytes = 0;
    std::int64_t reserveBytes = 0;
    std::int64_t pictureBytes = 0;
    int intervalMs = 500;
    std::optional<std::int64_t> pictures; // where the series ends by itself
};
// Said before Start when the series will not fit above the reserve, or when an open-ended one
// reaches the reserve within an hour; empty otherwise.
QString diskForecast(const DiskPlan &plan);

// The seconds until `freeBytes` shrink to the reserve at `bytesPerSecond`; none when nothing is
// written.
std::optional<double> secondsUntilReserve(std::int64_t freeBytes, std::int64_t reserveBytes, double bytesPerSecond);

// "3 h 05 min", "12 min", "40 s": a span as a person reads it, to the minute above an hour.
QString spanText(double seconds);
// "256 MiB", "1.5 GiB", "812 KiB".
QString bytesText(std::int64_t bytes);
// A size as a person writes it: "256M", "1G", "1.5GiB", "500MB", "4096" (bytes), "0"; none when
// the text is not one. The units count in powers of 1024.
std::optional<std::int64_t> parseByteSize(const QString &text);

// Kept by a series' writer: before each save, whether the picture leaves the reserve free, and
// how long the disk lasts at the rate the series writes.
class DiskGuard
{
public:
    DiskGuard(const QString &directory, std::int64_t firstPictureBytes, std::optional<std::int64_t> chosenReserve,
              int intervalMs);

    // Fails with "the disk is nearly full" when the next picture would leave less than the reserve.
    Status roomForNext();
    // A picture of `bytes` was saved `stopwatchMs` after Start.
    void saved(std::int64_t bytes, double stopwatchMs);
    // The time until the reserve at the rate of the pictures saved so far; none before the first.
    std::optional<double> secondsLeft() const;

private:
    QString m_directory;
    std::int64_t m_estimate;      // of the first picture; afterwards the largest saved
    std::optional<std::int64_t> m_chosen;
    int m_intervalMs;
    std::optional<std::int64_t> m_free; // measured before the last save
    std::int64_t m_savedBytes = 0;
    std::int64_t m_savedPictures = 0;
    double m_lastMs = 0;
};
