#include "recording/series.h"

void takeExposure(ImageMetadata &record, const Frame &frame, const CameraSettingsInForce &start)
{
    record.exposureUs = frame.exposureUs ? frame.exposureUs : start.exposureAuto ? std::nullopt : start.exposureUs;
    record.gain = frame.gain ? frame.gain : start.gainAuto ? std::nullopt : start.gain;
    record.gainUnit = frame.gain ? QStringLiteral("dB") : start.gainUnit;
}

void fillPictureRecord(ImageMetadata &record, qint64 picture, double stopwatchMs, double scheduledMs,
                       const NameOptions &options, const ChannelReadingState &readings)
{
    record.picture = picture;
    record.stopwatchMs = stopwatchMs;
    record.scheduledMs = scheduledMs;
    auto reading = [&readings](int channel) {
        const ChannelReadingState::ChannelRecord &r = readings.LastReading[channel];
        return r.ok ? ChannelSample{true, r.count, r.value} : ChannelSample{};
    };
    if (options.channel0)
        record.channel0 = reading(0);
    if (options.channel1)
        record.channel1 = reading(1);
}

std::optional<RecordingState> seriesTransition(RecordingState from, SeriesEvent event)
{
    switch (event) {
    case SeriesEvent::Start:
        if (from == RecordingState::Idle)
            return RecordingState::Recording;
        break;
    case SeriesEvent::Stop:
    case SeriesEvent::StepFailed:
        if (from == RecordingState::Recording)
            return RecordingState::Idle;
        break;
    }
    return std::nullopt;
}

QString startRefusal(const StartRequest &request, const std::function<bool(const QString &)> &fileExists)
{
    if (request.fileLabelCaption == QLatin1String("Filename to Save"))
        return QStringLiteral("Please choose a filename first!");
    if (request.lastBaseName && request.baseNameText == *request.lastBaseName)
        return QStringLiteral("Please choose a new filename!");
    if (fileExists(request.fullFileName))
        return QLatin1String(kFileExistsRefusal) + request.fullFileName;
    return QString();
}

QString asSentence(const QString &reason)
{
    QString sentence = reason;
    if (!sentence.isEmpty()) {
        sentence[0] = sentence[0].toUpper();
        if (!sentence.endsWith(QLatin1Char('.')) && !sentence.endsWith(QLatin1Char('!')))
            sentence += QLatin1Char('.');
    }
    return sentence;
}

QString savingFailureMessage(const QString &fileName, const QString &reason)
{
    return QStringLiteral("Could not save the picture:\n%1\n%2").arg(fileName, asSentence(reason));
}

QString captureFailureMessage(const QString &fileName, const QString &reason)
{
    return QStringLiteral("Could not take the picture:\n%1\n%2").arg(fileName, asSentence(reason));
}

QString namesNote(const NameOptions &options)
{
    if (options.number || options.time)
        return QString();
    return options.channel0 || options.channel1
               ? QStringLiteral("no number or time in the names: a picture replaces an earlier one whenever the "
                                "readings repeat")
               : QStringLiteral("no number or time in the names: every picture replaces the previous one");
}
