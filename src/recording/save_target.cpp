#include "recording/save_target.h"

#include "picture_files/safe_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

Status checkSaveTarget(const QString &directory, const QString &fullFileName)
{
    const QDir current = QDir::current();
    const QString root = QDir::cleanPath(current.absoluteFilePath(directory.isEmpty() ? QStringLiteral(".") : directory));
    const QString target = QDir::cleanPath(current.absoluteFilePath(fullFileName));
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (target.size() > prefix.size() && target.startsWith(prefix))
        return Status::success();
    return Status::failure(QStringLiteral("the name leads out of the directory \"%1\"").arg(root));
}

Status makeOutputDirectory(const QString &directory)
{
    const QString target = QDir(directory).absolutePath();
    QString walked;
    for (const QString &part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + part;
        if (QFileInfo(walked).isDir())
            continue;
        if (::mkdir(QFile::encodeName(walked).constData(), 0777) == 0)
            continue;
        const int error = errno;
        if (error == EEXIST && QFileInfo(walked).isDir())
            continue; // made by someone else meanwhile
        // The reason for a picture that cannot be made in the directory says what is in the way:
        // a file where a folder should be is named by it.
        return Status::failure(fileErrorReason(error == EEXIST ? ENOTDIR : error, target + QStringLiteral("/picture")));
    }
    return Status::success();
}
