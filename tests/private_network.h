#pragma once

#include <QFile>
#include <QList>

// GenICam discovery broadcasts on every network it can see. Tests and benchmarks that talk to
// the camera emulator run only where scripts/netns-run put them: a network namespace that
// holds nothing but loopback.
inline bool insidePrivateNetwork()
{
    if (qEnvironmentVariable("PIR_NETNS") != QLatin1String("1"))
        return false;
    QFile devices(QStringLiteral("/proc/net/dev"));
    if (!devices.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = devices.readAll().split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray name = lines[i].split(':').first().trimmed();
        if (!name.isEmpty() && name != "lo")
            return false;
    }
    return true;
}
