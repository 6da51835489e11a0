#pragma once

#include "picture_files/image_files.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// How a picture's record writes its values, in its .tif OME-XML and in its row of the series
// log alike, so that a picture and its row read the same. Numbers are written with a decimal
// point whatever the locale, so that every tool reads them.

// Milliseconds to the microsecond: "301.257".
QString recordMilliseconds(double ms);
// A value as the camera or card gave it, to full precision and without an exponent.
QString recordNumber(double value);
// A channel's count and value: both empty when it was not read, both "ERR" when the card failed.
std::pair<QString, QString> recordChannel(const std::optional<ChannelSample> &sample);

// The picture's record as key and value pairs with the series log's names and number formats
// (docs/tif-metadata.md): `capture_time` at `time`, then what the picture has.
QList<std::pair<QString, QString>> recordPairs(const ImageMetadata &metadata, const QDateTime &time);
// Reads such pairs back; keys of other programs are passed over.
void readRecordPairs(const QHash<QString, QString> &pairs, ImageMetadata &metadata);
