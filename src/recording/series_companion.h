#pragma once

#include "base/frame.h"
#include "picture_files/image_files.h"
#include "picture_files/ome_xml.h"
#include "recording/series_log.h"
#include "recording/series_scheduler.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <chrono>

// What the pictures of a series say of their series, and the companion file of a .tif series:
// `<log name>.companion.ome` beside its log, OME-XML that describes the series as one image
// whose time points are its pictures, each found by its file's name and UUID, so that Fiji
// (Bio-Formats) opens the series as one. The companion is written whole through a safe save,
// never torn: at the first picture, then at most every 10 s, and at the end, so that a series cut
// short keeps one for all but its last seconds. It lists only pictures already saved.
class SeriesCompanion
{
public:
    SeriesCompanion(const SeriesSettings &settings, const SeriesLogHeader &header);

    // Whether the series has a companion: a .tif series.
    bool isWanted() const { return m_wanted; }
    // The series' log is open at `logPath`: the series is named after it, the companion goes beside it.
    void open(const QString &logPath);
    // Gives a picture what every picture of the series shares, and a UUID of its own.
    void describe(ImageMetadata &record) const;
    // A picture was saved under `fileName`; `replacing` when it replaced one of the series.
    void add(const QString &fileName, const Frame &frame, const ImageMetadata &record, bool replacing);
    // The series is over: the companion is written a last time. Says why it could not be;
    // empty when it was, or when there is none.
    QString finish();

private:
    void write();

    PictureOrigin m_origin;
    bool m_wanted = false;
    QString m_path; // of the companion; empty: none
    QUuid m_uuid;
    Frame m_layout; // of the first picture, without its pixels
    QList<OmeTimePoint> m_points;
    bool m_written = false;
    bool m_changed = false;
    QString m_failure;
    std::chrono::steady_clock::time_point m_due; // of the next write
};
