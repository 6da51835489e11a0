#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Where a file system cannot make unnamed files, and for a picture that replaces one of its own
// series, a save writes a hidden temporary file beside the target and renames it. A program
// killed in between leaves that file behind. Its name, ".<name>.pir-XXXXXX-cccccccc.part", ends
// in a random tag and a check code computed from the name and the tag with a key of this program,
// so that a file is taken for one of ours only when the code matches: a user's ".notes.Draft1.part"
// or ".x.pir-AbC123-00000000.part" is never taken for one.

// The temporary name for the file name `name` (bytes as the file system takes them). The name is
// shortened when the decoration would push it past `nameMax` although `name` fits, and always at
// the start of a UTF-8 character, so that it stays valid text.
QByteArray temporaryName(const QByteArray &name, std::size_t nameMax);

// Whether `name` is one that temporaryName() makes, its check code included.
bool isTemporaryName(const QByteArray &name);

// Removes the temporary files of this program in `directory` that no save is writing any more:
// those left by a program that was killed or lost its power. A save holds a lock on its temporary
// file while it writes, and a file younger than a minute is left alone in any case, so that a
// save under way, in this program or in another one, is never disturbed. Returns how many were
// removed; a directory that cannot be read removes none.
int removeStaleTemporaries(const QString &directory);
