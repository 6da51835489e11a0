#pragma once

#include "analog/channel_reading.h"
#include "cameras/camera.h"
#include "picture_files/image_files.h"
#include "recording/capture_state.h"

#include <QString>

#include <functional>
#include <optional>

// Which pieces a composed name carries between the base name and the extension.
struct NameOptions
{
    bool number = false;
    bool time = true;
    bool channel0 = true;
    bool channel1 = true;
};

// Said where the names of a series can repeat (neither number nor time): every picture saved
// under the same name may be what the user wants, one always-current picture, but the record
// must not suggest that each picture was kept. Empty when every name is new.
QString namesNote(const NameOptions &options);

// The picture's own record, as far as it is known before the save: its number, when it was
// due and taken, and the readings of the ticked channels.
void fillPictureRecord(ImageMetadata &record, qint64 picture, double stopwatchMs, double scheduledMs,
                       const NameOptions &options, const ChannelReadingState &readings);

// The frame's own exposure and gain where the camera sent them with it, else those set at
// Start, unless an automatic mode may have changed them since.
void takeExposure(ImageMetadata &record, const Frame &frame, const CameraSettingsInForce &start);

// What can happen to a series.
enum class SeriesEvent { Start, Stop, StepFailed };

// The series' transitions, in one place: a series starts only when idle and stops (by the
// user or because a picture could not be taken) only while recording. Any other pair is
// illegal and gives no state.
std::optional<RecordingState> seriesTransition(RecordingState from, SeriesEvent event);

// The checks before a series may start, in their order. Returns the message of the first
// that fails, or an empty text when the series may start.
struct StartRequest
{
    QString fileLabelCaption; // "Filename to Save" until a name was composed
    QString baseNameText;     // the text of the base-name box
    std::optional<QString> lastBaseName; // the base name of the previous series; none for `record`
    QString fullFileName;     // the name composed last
};
QString startRefusal(const StartRequest &request, const std::function<bool(const QString &)> &fileExists);
// How the refusal of a name that is taken begins; the window runs the name straight into it.
inline constexpr char kFileExistsRefusal[] = "File already exists:";

// A reason, which comes as part of a sentence ("no space left on the disk"), as a sentence of its
// own for a line of its own: "No space left on the disk."
QString asSentence(const QString &reason);

// The message shown when a picture of a series could not be saved: the file's name on one line,
// the reason, which does not repeat it, as a sentence on the next.
QString savingFailureMessage(const QString &fileName, const QString &reason);
// The same for a picture that could not be taken, under the name it would have had.
QString captureFailureMessage(const QString &fileName, const QString &reason);
