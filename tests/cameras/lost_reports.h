#pragma once

#include "cameras/camera.h"

#include <QCoreApplication>
#include <QStringList>

// The reasons a camera gave through `lost`, collected on the test's thread. A camera says it on
// whichever thread found the loss (its stream thread, Aravis's heartbeat thread): a QSignalSpy
// would be filled there, without a lock, while the test reads it.
class LostReports : public QObject
{
public:
    explicit LostReports(Camera *camera)
    {
        connect(camera, &Camera::lost, this, [this](const QString &reason) { m_reasons << reason; });
    }
    // With the reports other threads have sent so far.
    const QStringList &reasons()
    {
        QCoreApplication::processEvents();
        return m_reasons;
    }
    qsizetype count() { return reasons().size(); }

private:
    QStringList m_reasons;
};
