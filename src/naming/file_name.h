#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// The output file name is built from five pieces joined with nothing between them:
// directory, base name, number-and-time piece, analog readings and extension. Nothing in the
// pieces is checked, replaced or escaped: the name is exactly what the user set up.

// The number-and-time piece: "_" + counter with "000" when `addNumber`, then
// "_" + milliseconds with "0000000" + "msec" when `addTime`; empty when neither is ticked.
QString numberAndTimePiece(bool addNumber, bool addTime, std::int64_t frameCounter, double elapsedMsec,
                           const QLocale &locale);

QString fullFileName(const QString &directory, const QString &baseName, const QString &numberAndTime,
                     const QString &analogSuffix, const QString &extension);

// The directory of a file chosen in a dialog: `fullName` without its last `fileTitle`
// characters, so the trailing separator stays and the base name can follow directly.
QString directoryOfChosenFile(const QString &fullName, const QString &fileTitle);

// What the output directory becomes when the directory dialog closes. A cancelled dialog
// keeps `current`: a cancel must not turn the dialog's preset text into a directory.
QString directoryAfterDialog(const QString &current, bool accepted, const QString &fullName,
                             const QString &fileTitle);
