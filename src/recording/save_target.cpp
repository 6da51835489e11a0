#include "recording/save_target.h"

#include "analog/channel_reading.h"
#include "base/number_pattern.h"
#include "naming/file_name.h"
#include "picture_files/safe_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>
#include <sys/stat.h>

namespace {

// The first folder on the way from `root` to the file that is a symbolic link, walked as the
// kernel walks `below` ("sub/../x" passes through "sub"); empty when there is none.
QString linkOnTheWay(const QString &root, const QString &below)
{
    QStringList parts = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!parts.isEmpty())
        parts.removeLast(); // the file itself, which a save never follows
    QString walked = root;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        walked += QLatin1Char('/') + parts[i];
        struct stat info = {};
        if (::lstat(QFile::encodeName(walked).constData(), &info) != 0)
            return QString(); // a folder that is missing fails the save with its own reason
        if (S_ISLNK(info.st_mode))
            return parts.mid(0, i + 1).join(QLatin1Char('/'));
    }
    return QString();
}

} // namespace

Status checkSaveTarget(const QString &directory, const QString &fullFileName)
{
    const QDir current = QDir::current();
    const QString root = QDir::cleanPath(current.absoluteFilePath(directory.isEmpty() ? QStringLiteral(".") : directory));
    const QString target = QDir::cleanPath(current.absoluteFilePath(fullFileName));
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (target.size() <= prefix.size() || !target.startsWith(prefix))
        return Status::failure(QStringLiteral("the name leads out of the directory \"%1\"").arg(root));
    const QString below = fullFileName.startsWith(directory) ? fullFileName.mid(directory.size()) : target.mid(prefix.size());
    if (const QString link = linkOnTheWay(root, below); !link.isEmpty())
        return Status::failure(QStringLiteral("the folder \"%1\" of the name is a symbolic link, which may lead out of the "
                                              "directory").arg(link));
    return Status::success();
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

long nameLimit(const QString &directory)
{
    QString folder = QDir(directory.isEmpty() ? QStringLiteral(".") : directory).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QLatin1String("/"))
        folder = QFileInfo(folder).path();
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return limit > 0 ? limit : NAME_MAX;
}

QStringList widestSeriesNames(const QString &baseName, const QString &extension, bool number, bool time,
                              bool channel0, bool channel1)
{
    const QLocale c = QLocale::c();
    constexpr std::int64_t pictures = 999'999'999;      // a hundred days at 50 ms: 172,800,000
    constexpr double milliseconds = 9'999'999'999.0;    // a hundred days: 8,640,000,000
    QString readings;
    for (int channel : {0, 1}) {
        if (!(channel == 0 ? channel0 : channel1))
            continue;
        const ChannelSetup setup = channelSetup(channel);
        const QString full = formatNumber(setup.fullScale, setup.pattern, c);
        readings += u'_' + (full.size() > 3 ? full : QStringLiteral("ERR")) + setup.unitSuffix;
    }
    const QString picture =
        fullFileName(QString(), baseName, numberAndTimePiece(number, time, pictures, milliseconds, c), readings, extension);
    const QString log = baseName + QStringLiteral("_yyyyMMdd-HHmmss_999.csv");
    return {picture, log};
}

Status checkNameLengths(const QString &directory, const QStringList &names)
{
    const long limit = nameLimit(directory);
    for (const QString &name : names) {
        for (const QString &part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            const qsizetype bytes = QFile::encodeName(part).size();
            if (bytes > limit)
                return Status::failure(QStringLiteral("the name \"%1\" would have %2 bytes; the file system takes at most %3")
                                           .arg(part)
                                           .arg(bytes)
                                           .arg(limit));
        }
    }
    return Status::success();
}
