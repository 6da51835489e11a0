#pragma once

#include "app/status.h"
#include "imaging/frame.h"

#include <QDateTime>
#include <QString>

// What a saved picture records about itself beside its pixels.
struct ImageMetadata
{
    QDateTime captureTime; // wall-clock time of the capture; now when invalid. Kept to the
                           // millisecond in .mio, to the second in .tif.
};

// Writes the frame to `path` in the format its extension names (.bmp, .tif, .jpg, .mio; the
// case does not matter, .tiff and .jpeg are taken too). An existing file of that name is
// replaced. The file appears under its final name only once it is complete; on failure nothing
// is left behind and the reason says why: no current image, an unknown extension, a missing
// directory, no permission, no space, a name too long.
Status saveImage(const Frame &frame, const QString &path, const ImageMetadata &metadata = {});

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
