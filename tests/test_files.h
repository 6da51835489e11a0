#pragma once

#include <QFile>
#include <QString>

// Writes `text` to the file `path`, replacing it, and returns the path; empty when it cannot.
// The tests write their driver files with it.
inline QString writeTextFile(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
        return {};
    return path;
}
