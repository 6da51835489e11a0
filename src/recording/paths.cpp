#include "recording/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString driversDirectory()
{
    const QString fromEnvironment = qEnvironmentVariable("PIR_DRIVERS_DIR");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(fromEnvironment);
    const QString binDir = QCoreApplication::applicationDirPath();
    const QString installed = QDir::cleanPath(binDir + QStringLiteral("/../share/pictures-in-a-row/drivers"));
    if (QFileInfo(installed).isDir())
        return installed;
    return QDir::cleanPath(binDir + QStringLiteral("/drivers"));
}

QString defaultDriverPath()
{
    return driversDirectory() + QStringLiteral("/camera.vin");
}

QString defaultSaveDirectory()
{
    return QDir::homePath() + QStringLiteral("/Daten/");
}
