#include "remote/bus_names.h"

QString windowServiceName()
{
    return QStringLiteral(PIR_APP_ID);
}

QString recordServiceName(qint64 pid)
{
    return QStringLiteral(PIR_APP_ID ".Record%1").arg(pid);
}

QString seriesObjectPath()
{
    // An id may hold '-', which an object path may not.
    QString path = QStringLiteral("/" PIR_APP_ID "/Series");
    return path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
}
