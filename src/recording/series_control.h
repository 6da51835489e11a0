#pragma once

#include "recording/series.h"

#include <QString>
#include <QStringList>

#include <optional>

class SeriesEngine;

// The pieces a name carries, by the names scripts give them: "number", "time", "channel0" and
// "channel1".
QStringList optionNames(const NameOptions &options);
// None when a name is not one of those.
std::optional<NameOptions> optionsFromNames(const QStringList &names);

// Refusals that only a request from outside can meet: a person cannot press Start while the
// button reads "Stop", nor reach a control of a frame that a series has disabled.
inline constexpr const char *kSeriesRunningMessage = "A series is running already.";
inline constexpr const char *kSetupLockedMessage = "The set-up cannot be changed while a series runs.";

// What a script may ask of a series from outside the program: the window and `record` each
// answer it as their own controls would, with the same checks and the same texts, and what is
// done shows exactly as if a person had done it. Each request returns the message of its
// refusal, or an empty text once it is done; none of them opens a message box.
class SeriesControl
{
public:
    virtual ~SeriesControl() = default;

    // The series' engine: its state, its set-up and its signals.
    virtual SeriesEngine &engine() = 0;

    virtual QString requestStart() = 0;
    // Ends a running series as Stop does; nothing happens when none runs.
    virtual QString requestStop() = 0;

    // The set-up of the window's frames; `record` takes its own from its command line.
    virtual bool offersSetup() const { return false; }
    virtual QString requestDirectory(const QString &) { return notOffered(); }
    virtual QString requestBaseName(const QString &) { return notOffered(); }
    virtual QString requestFileType(const QString &) { return notOffered(); }
    virtual QString requestInterval(uint) { return notOffered(); }
    // Which pieces the names carry: any of "number", "time", "channel0" and "channel1".
    virtual QString requestOptions(const QStringList &) { return notOffered(); }

private:
    static QString notOffered() { return QStringLiteral("This series takes its set-up from its command line."); }
};
