#pragma once

#include "base/status.h"

#include <QString>

// Refuses a composed file name that leads out of the output directory, as a base name that
// starts with "../" does: the pictures of a series belong inside the directory the user chose.
// A base name may still lead into a subfolder of it. The check reads the names only; links are
// followed as the file system follows them.
Status checkSaveTarget(const QString &directory, const QString &fullFileName);

// Makes the output directory with every folder missing on the way to it. On failure the reason
// names the cause, and the part of the way at fault, without repeating the directory that the
// message around it shows.
Status makeOutputDirectory(const QString &directory);
