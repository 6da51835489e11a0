#pragma once

#include "app/status.h"

#include <QString>

// Refuses a composed file name that leads out of the output directory, as a base name that
// starts with "../" does: the pictures of a series belong inside the directory the user chose.
// A base name may still lead into a subfolder of it. The check reads the names only; links are
// followed as the file system follows them.
Status checkSaveTarget(const QString &directory, const QString &fullFileName);
