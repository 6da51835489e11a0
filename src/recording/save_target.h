#pragma once

#include "base/status.h"

#include <QString>
#include <QStringList>

// Refuses a composed file name that leads out of the output directory, as a base name that
// starts with "../" does, or through a symbolic link below it: the pictures of a series belong
// inside the directory the user chose. A base name may still lead into a real subfolder of it;
// the directory itself, and the folders above it, may be links. Checked at Start and before
// every picture, so that a link made during the series stops it rather than takes its pictures.
Status checkSaveTarget(const QString &directory, const QString &fullFileName);

// Makes the output directory with every folder missing on the way to it. On failure the reason
// names the cause, and the part of the way at fault, without repeating the directory that the
// message around it shows.
Status makeOutputDirectory(const QString &directory);

// The longest name, in bytes, that the file system of `directory` takes: that of the nearest
// folder on the way to it that exists, 255 where it cannot be asked.
long nameLimit(const QString &directory);

// The longest names a series composes below its directory with this base name: its pictures',
// with each piece that is ticked at its widest (the number and the time of a series of a hundred
// days, a reading at full scale or failed), and its log's, numbered as a second log in the
// same second would be.
QStringList widestSeriesNames(const QString &baseName, const QString &extension, bool number, bool time,
                              bool channel0, bool channel1);

// Refuses `names` (below `directory`; a base name may lead into a subfolder) of which a part
// between two '/' is longer than the file system takes. Checked before a series starts, so that
// a series never saves pictures it cannot log, or stops at a picture whose time has grown a digit.
Status checkNameLengths(const QString &directory, const QStringList &names);
