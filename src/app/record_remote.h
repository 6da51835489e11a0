#pragma once

#include "recording/series_control.h"
#include "remote/remote_control.h"

// `record` on the session bus as "<app id>.Record<pid>" while it runs: scripts watch its series
// and stop it as Ctrl+C does. It takes no set-up and starts no second series. The series log's
// header says whether it is there, or why not.
class RecordRemote : public SeriesControl
{
public:
    explicit RecordRemote(SeriesEngine &engine);

    SeriesEngine &engine() override { return m_engine; }
    QString requestStart() override;
    QString requestStop() override;

private:
    SeriesEngine &m_engine;
    RemoteControl m_remote; // after the engine, which it reads from the start
};
