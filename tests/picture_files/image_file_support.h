#pragma once

#include "base/status.h"
#include "base/frame.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// Pictures and independent readers for the image file tests: nothing here goes through the
// readers under test.

// Smooth enough for JPEG at quality 90 to stay above 40 dB, varied enough that a swapped
// channel, a flipped row order or a lost high byte shows.
Frame testFrame(PixelFormat format, int width, int height, int significantBits = 0);
// The same pixels with `padding` bytes after each row in memory.
Frame withPadding(const Frame &tight, int padding);
// What an 8-bit format holds of a frame: Mono16 reduced to its top significant bits.
Frame as8Bit(const Frame &frame);
Frame fromQImage(QImage image, PixelFormat format);
bool samePixels(const Frame &a, const Frame &b);
double psnr(const Frame &a, const Frame &b);

// libtiff's own view of a file, without our reader.
Frame readWithLibtiff(const QString &path, QString &software, QString &dateTime);
// A .mio file read the way docs/mio-format.md tells an outside reader to.
Frame readMioByHand(const QString &path, qint64 &captureMsecs);
// CRC-32 as zlib computes it, to forge headers that pass the checksum.
std::uint32_t zlibCrc32(const QByteArray &bytes);

// Saves in a child process that has given up root for the user "nobody".
Status saveAsNobody(const Frame &frame, const QString &path);
// Runs `work` in a child process and gives its outcome; a child that dies of a signal fails
// with "died of signal N". With `addressSpace` (bytes, 0 for none) the child may not map more,
// so that an allocation beyond it fails there instead of taking the machine's memory.
Status inChildProcess(const std::function<Status()> &work, std::uint64_t addressSpace = 0);
// The names in `dir`, hidden ones too, as readdir gives them: bytes, not decoded.
QList<QByteArray> rawEntries(const QString &dir);

QStringList entries(const QString &dir);
QByteArray fileBytes(const QString &path);
bool writeBytes(const QString &path, const QByteArray &bytes);
