#pragma once

#include "recording/capture_state.h"

#include <QString>

#include <functional>
#include <optional>

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
    QString lastBaseName;     // the base name of the previous series
    QString fullFileName;     // the name composed last
};
QString startRefusal(const StartRequest &request, const std::function<bool(const QString &)> &fileExists);

// A reason, which comes as part of a sentence ("no space left on the disk"), as a sentence of its
// own for a line of its own: "No space left on the disk."
QString asSentence(const QString &reason);

// The message shown when a picture of a series could not be acquired or saved: the file's name
// on one line, the reason, which does not repeat it, as a sentence on the next.
QString savingFailureMessage(const QString &fileName, const QString &reason);
