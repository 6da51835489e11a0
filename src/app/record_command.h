#pragma once

#include "recording/series_engine.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// `pictures-in-a-row record`: one series of pictures without a window, on the same engine as
// the window's Start and Stop, with the window's start-up values as defaults.
struct RecordSettings
{
    QString driverPath;
    QString directory; // ends with '/'
    QString baseName = QStringLiteral("VideoBasename");
    QString extension = QStringLiteral(".bmp");
    int intervalMs = 500;
    NameOptions options;
    std::optional<qint64> count;
    std::optional<double> durationSeconds;
    bool quiet = false;
    std::optional<QDateTime> startAt; // Start waits for this instant
    std::optional<QDateTime> until;   // the series ends at this instant
    bool stopOnCameraLoss = false;
    std::optional<std::int64_t> diskReserveBytes;
};

// The outcome of reading the command's arguments: settings to record with, or an exit
// status with what to print (help on standard output, a refusal on standard error).
struct RecordArguments
{
    std::optional<int> exitCode; // empty: go on and record
    QString output;
    QString error;
    RecordSettings settings;
};

// `arguments` are the words after "record". Needs the application object for the defaults.
RecordArguments parseRecordArguments(const QStringList &arguments);

// Records a series as the settings say. Exit status: 0 when the series ended as planned or
// was interrupted, 1 when a step failed, 2 when it was refused before anything was written.
int runRecord(const RecordSettings &settings);

// The whole command: parses the words after "record", records, returns the exit status.
// Runs on a QCoreApplication: it needs no display and never opens a window.
int runRecordCommand(const QStringList &arguments);
