#include "app/record_remote.h"

#include "recording/series_engine.h"
#include "remote/bus_names.h"

#include <unistd.h>

RecordRemote::RecordRemote(SeriesEngine &engine) : m_engine(engine), m_remote(*this, recordServiceName(::getpid()))
{
    m_engine.setRemoteControlNote(m_remote.note());
}

QString RecordRemote::requestStart()
{
    if (m_engine.isRecording())
        return QLatin1String(kSeriesRunningMessage);
    return QStringLiteral("A record takes one series; start another record for the next.");
}

QString RecordRemote::requestStop()
{
    if (m_engine.isRecording())
        m_engine.stop();
    return {};
}
