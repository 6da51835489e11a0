#pragma once

#include "base/status.h"
#include "base/frame.h"
#include "picture_files/safe_file.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// One analog channel as read for a picture.
struct ChannelSample
{
    bool ok = false;  // false: the card refused the reading; count and value mean nothing
    int count = 0;    // raw count of the card
    double value = 0; // mA on channel 0, V on channel 1
};

// What the pictures of a series share, and what is known of their camera and optics: the
// OME-XML of a .tif picture says it (docs/tif-metadata.md); .mio keeps the pixel size.
struct PictureOrigin
{
    QDateTime start; // the series' Start, every picture's time origin; invalid outside a series
    QString series;  // the series' name: its log's, without ".csv"
    std::optional<double> intervalMs;
    std::optional<double> pixelSizeUm; // one pixel in the sample plane, after the optics
    QString cameraModel;
    QString cameraSerial;
    QString channelName; // what the pictures' one channel is called
};

// What a saved picture records about itself beside its pixels: the series log's row for it,
// as far as it is known before the save. Empty fields are not written; .tif keeps them all
// (docs/tif-metadata.md), .mio all but the picture number and the time it was due
// (docs/mio-format.md).
struct ImageMetadata
{
    QDateTime captureTime; // wall-clock time of the capture; now when invalid. Kept to the
                           // millisecond (in .tif in the description; DateTime has seconds).
    std::optional<qint64> picture;     // picture number in the series, from 1
    std::optional<double> stopwatchMs; // ms since Start
    std::optional<double> scheduledMs; // when the picture was due, ms since Start
    std::optional<double> frameMs;     // when the camera captured the frame, ms since Start
    std::optional<ChannelSample> channel0; // empty when the channel is not ticked
    std::optional<ChannelSample> channel1;
    std::optional<double> exposureUs; // the exposure of the frame, in microseconds
    std::optional<double> gain;
    QString gainUnit; // with a gain: "dB", or "raw" for the camera's own units
    QUuid uuid;       // the picture's own, in the OME-XML of a .tif; a new one when null
    PictureOrigin origin;
};

// Writes the frame to `path` in the format its extension names (.bmp, .tif, .jpg, .mio; the
// case does not matter, .tiff and .jpeg are taken too). A file of that name is replaced only
// with SaveMode::ReplaceOwn; otherwise the save fails with "file already exists", also when
// the name was taken while the picture was being written. The file appears under its final
// name only once it is complete; on failure nothing is left behind and the reason says why:
// no current image, an unknown extension, a missing directory, no permission, no space, a name
// too long, a name taken. The reason leaves out the file's name, which the caller shows beside it.
Status saveImage(const Frame &frame, const QString &path, const ImageMetadata &metadata = {},
                 SaveMode mode = SaveMode::CreateNew);

// How many of a frame's significant bits a picture of the type `path` names keeps: all of them
// in .tif and .mio, at most 8 in .bmp and .jpg, which keep the upper 8 of a 10- to 16-bit sample.
int significantBitsKept(int significantBits, const QString &path);

// Saved pictures are complete under their names at once but reach the disk with the kernel's
// writeback, within about half a minute; syncing each one would cost several times its save.
// Waits until everything written to the file system of `directory` is on the disk, so that a
// power cut after it loses nothing: meant for the end of a series.
Status syncSavedPictures(const QString &directory);

// Reads a picture file (.bmp, .tif/.tiff, .jpg/.jpeg, .png, .mio). 16-bit grey stays 16-bit
// where the file holds it; a damaged file is refused with the reason.
Status loadImage(const QString &path, Frame &out);
// The same, also giving what the file records about the picture (.mio and .tif).
Status loadImage(const QString &path, Frame &out, ImageMetadata &metadata);
