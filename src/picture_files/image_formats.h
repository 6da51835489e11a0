#pragma once

#include "base/status.h"
#include "base/frame.h"
#include "picture_files/image_files.h"
#include "picture_files/safe_file.h"

#include <QIODevice>
#include <QImage>
#include <QString>

#include <cstdint>

// The single formats behind saveImage() and loadImage(), which choose one by extension.
// Writers receive a frame already checked for consistency and an opened SafeFile; they
// neither commit nor discard it.

Status writeBmp(const Frame &frame, SafeFile &file);
// One row as a bitmap stores it: 8-bit grey, or blue, green, red; without the padding.
void convertRowForBmp(const Frame &frame, int y, std::uint8_t *out);
// A picture with its OME-XML as the description; the UUID is `metadata.uuid`, or a new one.
Status writeTiff(const Frame &frame, const ImageMetadata &metadata, SafeFile &file);
// The same with the description given, for measuring what the OME-XML costs.
Status writeTiff(const Frame &frame, const ImageMetadata &metadata, const QByteArray &description, SafeFile &file);
Status writeJpeg(const Frame &frame, SafeFile &file);
Status writeMio(const Frame &frame, const ImageMetadata &metadata, SafeFile &file);

Status readBmp(const QString &path, Frame &out);
Status readTiff(const QString &path, Frame &out, ImageMetadata &metadata);
Status readJpeg(const QString &path, Frame &out);
Status readMio(const QString &path, Frame &out, ImageMetadata &metadata);
// The same from an open device; `path` only names it in the reasons.
Status readMio(const QString &path, QIODevice &device, Frame &out, ImageMetadata &metadata);
// .png through Qt's reader.
Status readWithQt(const QString &path, Frame &out);
// A picture Qt decoded, as 16-bit grey, 8-bit grey or RGB8.
Frame frameFromImage(QImage image);

// The JPEG quality of saved pictures.
constexpr int jpegQuality = 90;

// The top eight significant bits of each Mono16 sample, as 8-bit formats store them.
// Samples above the significant range (a camera that does not mask its unused bits) saturate.
void reduceRowTo8Bits(const std::uint8_t *mono16Row, std::uint8_t *out, int width, int significantBits);

// Reads the whole file into `bytes`, with a reason on failure.
Status readWholeFile(const QString &path, QByteArray &bytes);
