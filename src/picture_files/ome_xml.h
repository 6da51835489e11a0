#pragma once

#include "base/frame.h"
#include "picture_files/image_files.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// OME-XML (schema 2016-06), as a .tif picture carries it in its ImageDescription and the
// companion file of a .tif series holds it: one image of one channel, whose time points are the
// pictures (docs/tif-metadata.md). Bio-Formats (Fiji, OMERO) and tifffile read it.

// One picture as a time point of its series' image.
struct OmeTimePoint
{
    QString fileName; // relative to the companion
    QUuid uuid;       // the picture's own
    std::optional<double> timeMs;     // ms since Start (omeTimeMs)
    std::optional<double> exposureUs;
};

// The time of a picture since Start that its Plane's DeltaT gives: when the camera captured
// the frame where that is known, else when the stopwatch took it.
std::optional<double> omeTimeMs(const ImageMetadata &metadata);

// The OME-XML of one .tif picture: a one-plane image named `name`, with the picture's record as
// a MapAnnotation. `metadata.uuid` must be set.
QByteArray pictureOmeXml(const Frame &frame, const ImageMetadata &metadata, const QString &name);
// The OME-XML of a series' companion: one image of the layout of `frame` (its pixels are not
// read), one time point per picture, each found by its file's name and UUID.
QByteArray companionOmeXml(const Frame &frame, const PictureOrigin &origin, const QUuid &uuid,
                           const QList<OmeTimePoint> &points);

// Reads what pictureOmeXml() wrote: the record, the UUID and the pixel size. False when `xml` is
// not OME-XML.
bool readPictureOmeXml(const QByteArray &xml, ImageMetadata &metadata);
