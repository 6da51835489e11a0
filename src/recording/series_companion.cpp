#include "recording/series_companion.h"

#include "picture_files/safe_file.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// The companion is rewritten whole, so a long series' grows: it is written no more often than
// every 10 s, nor than takes more than a twentieth of the writer's time.
constexpr std::chrono::seconds kCompanionPeriod{10};
constexpr int kCompanionShare = 20;

bool sameLayout(const Frame &a, const Frame &b)
{
    return a.width == b.width && a.height == b.height && a.format == b.format && a.significantBits == b.significantBits;
}

} // namespace

SeriesCompanion::SeriesCompanion(const SeriesSettings &settings, const SeriesLogHeader &header)
    : m_uuid(QUuid::createUuid())
{
    const QString suffix = QFileInfo(QStringLiteral("x") + settings.extension).suffix().toLower();
    m_wanted = suffix == u"tif" || suffix == u"tiff";
    const CommonSettings &common = settings.cameraAtStart.common;
    // Kept with its offset from UTC, which every picture then writes without looking it up.
    m_origin.start = header.start.toOffsetFromUtc(header.start.offsetFromUtc());
    m_origin.intervalMs = settings.intervalMs;
    m_origin.pixelSizeUm = common.pixelSizeUm;
    m_origin.cameraModel = header.camera.model.trimmed();
    m_origin.cameraSerial = header.camera.serial;
    m_origin.channelName = !common.channelName.isEmpty() ? common.channelName
                           : !m_origin.cameraModel.isEmpty() ? m_origin.cameraModel
                                                             : header.camera.source;
}

void SeriesCompanion::open(const QString &logPath)
{
    m_origin.series = QFileInfo(logPath).completeBaseName();
    if (m_wanted)
        m_path = seriesCompanionPath(logPath);
}

void SeriesCompanion::describe(ImageMetadata &record) const
{
    record.origin = m_origin;
    record.uuid = QUuid::createUuid();
}

void SeriesCompanion::add(const QString &fileName, const Frame &frame, const ImageMetadata &record, bool replacing)
{
    if (m_path.isEmpty())
        return;
    if (m_points.isEmpty()) {
        m_layout = frame;
        m_layout.data = QByteArray();
    }
    const QString name = QFileInfo(m_path).dir().relativeFilePath(fileName);
    // The picture replaced is gone: its time point goes with it.
    if (replacing) {
        const auto earlier = std::find_if(m_points.crbegin(), m_points.crend(),
                                          [&name](const OmeTimePoint &p) { return p.fileName == name; });
        if (earlier != m_points.crend())
            m_points.removeAt(std::distance(earlier, m_points.crend()) - 1);
    }
    // One image has one layout; a camera keeps its own through a series.
    if (!sameLayout(frame, m_layout))
        return;
    m_points.append(OmeTimePoint{name, record.uuid, omeTimeMs(record), record.exposureUs});
    m_changed = true;
    if (std::chrono::steady_clock::now() >= m_due)
        write();
}

QString SeriesCompanion::finish()
{
    if (m_changed)
        write();
    return m_failure;
}

void SeriesCompanion::write()
{
    if (m_points.isEmpty())
        return;
    const auto began = std::chrono::steady_clock::now();
    // A file of the companion's name from elsewhere is never replaced, only the series' own.
    SafeFile file(m_path, m_written ? SaveMode::ReplaceOwn : SaveMode::CreateNew);
    Status status = file.open();
    if (status)
        status = file.write(companionOmeXml(m_layout, m_origin, m_uuid, m_points));
    if (status)
        status = file.commit();
    const auto now = std::chrono::steady_clock::now();
    m_due = now + std::max<std::chrono::steady_clock::duration>(kCompanionPeriod, kCompanionShare * (now - began));
    if (!status) {
        m_failure = status.reason();
        return;
    }
    m_failure.clear();
    m_written = true;
    m_changed = false;
}
