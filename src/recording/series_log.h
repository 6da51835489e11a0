#pragma once

#include "base/status.h"
#include "cameras/camera.h"
#include "picture_files/image_files.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The record of one series, written beside its pictures: a few '#' lines on the set-up,
// then a header row and one row per capture step. Each row is handed to the kernel whole as
// soon as it is written, so the log is complete up to the last picture even if the program is
// killed, and a row the disk has no room for is taken back whole.
struct SeriesLogHeader
{
    QString program;
    QString version;
    QDateTime start;
    QString driverFile;
    QString requestedSource; // what the driver file asked for, e.g. "auto"
    CameraIdentity camera;   // what was opened
    int width = 0;
    int height = 0;
    QString pixelFormat;
    QString card;
    int intervalMs = 0;
    QStringList options;
    QString namesNote;      // said when the names of the series may repeat
    QString schedule;       // how the schedule's thread runs: real-time or normal priority
    QString queue;          // how many pictures the writer's queue holds, and what bounds it
    QString cameraRateNote; // said when the camera streams more slowly than the ticks come
    QString diskNote;       // said when the series will not fit on its disk
    QString remoteControl;  // where scripts reach the series, or why they cannot
    // How the camera was set up at Start; empty for a still picture.
    std::optional<CameraSettingsInForce> settings;
    // The frame's significant bits and how many of them the pictures keep, in files of `fileType`.
    int significantBits = 8;
    int bitsKept = 8;
    QString fileType;
    bool companion = false; // the series has an OME companion file, named after its log
};

struct SeriesLogRow
{
    qint64 picture = 0;
    QString fileName;
    double scheduledMs = 0;
    double stopwatchMs = 0;
    std::optional<ChannelSample> channel0; // empty when the channel is not ticked
    std::optional<ChannelSample> channel1;
    QString result; // "ok" or the reason the save failed
    qint64 bytes = 0;
    QString replaced; // the number of the picture of this series saved before under the same name
    std::optional<std::uint64_t> frameId; // the camera's number of the frame
    std::optional<double> frameMs;     // when the frame was captured, ms since Start
    std::optional<double> frameAgeMs;  // how old the frame was when the step took it
    std::optional<double> exposureUs;  // the frame's exposure, as its picture records it
    std::optional<double> gain;
};

// What the end of a series adds to its log.
struct SeriesLogEnd
{
    QDateTime end;
    qint64 pictures = 0;
    qint64 ticksMissed = 0;
    // Frames while the camera streamed through the series; empty when it did not stream.
    std::optional<std::uint64_t> framesReceived;
    std::uint64_t framesLost = 0;
    QString companionFailure; // why the companion file could not be written
};

// `<directory><base name>_<yyyyMMdd-HHmmss>.csv`
QString seriesLogPath(const QString &directory, const QString &baseName, const QDateTime &start);
// `<log name without .csv>.companion.ome` beside the log at `logPath`.
QString seriesCompanionPath(const QString &logPath);
// The '#' lines and the header row of the log at `logPath`, which names the companion file.
QString formatLogHeader(const SeriesLogHeader &header, const QString &logPath = {});
// "exposure 10000 us, gain 6 dB, frame rate 25 frames/s, ...": the settings in force.
QString describeSettingsInForce(const CameraSettingsInForce &settings);
// "the camera gives 12 significant bits; .bmp pictures keep the upper 8", or empty when the
// pictures keep every bit.
QString bitsLostNote(int significantBits, int bitsKept, const QString &fileType);
QString formatLogRow(const SeriesLogRow &row);
QString formatLogEnd(const SeriesLogEnd &end);
// "# not saved: 3 pictures taken and not written when the program ended: 7-8, 10"
QString formatLogUnsaved(const std::vector<qint64> &pictures);

class SeriesLog
{
public:
    SeriesLog() = default;
    ~SeriesLog() { close(); }
    SeriesLog(const SeriesLog &) = delete;
    SeriesLog &operator=(const SeriesLog &) = delete;

    // Creates the log at `path`, or, when another series' log has that name (one started in the
    // same second), at the first free "<name>_2.csv", "<name>_3.csv", ...: a log is never shared
    // or replaced. path() tells the name chosen. A log whose header cannot be written is removed.
    Status open(const QString &path, const SeriesLogHeader &header);
    Status append(const SeriesLogRow &row);
    // A '#' line among the rows, on what happened to the series.
    Status note(const QString &text);
    void close();
    // Writes the lines that end the series and closes the log.
    Status finish(const SeriesLogEnd &end);
    bool isOpen() const { return m_fd >= 0; }
    // Adds `text` to the end of the log at `path`, once its series is over.
    static Status appendTo(const QString &path, const QString &text);
    QString path() const { return m_path; }

private:
    Status create(const QString &path);
    void removeCreated();
    Status write(const QString &text);

    int m_fd = -1;
    QString m_path;
    qint64 m_size = 0; // bytes of whole lines in the file
};

// Why the log at `path` cannot be written, as the warning shows it: the log's name on one line,
// the cause as a sentence on the next ("No space left on the disk.").
Status logFailure(const QString &path, int error);
