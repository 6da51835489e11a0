#include "recording/save_target.h"

#include <QDir>

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
