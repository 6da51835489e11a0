#include "remote/remote_control.h"

#include "remote/bus_names.h"
#include "remote/series_object.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

RemoteControl::RemoteControl(SeriesControl &control, const QString &service)
    : m_bus(QDBusConnection::sessionBus()), m_service(service)
{
    if (!m_bus.isConnected()) {
        m_note = QStringLiteral("off, no session bus: %1").arg(m_bus.lastError().message());
        return;
    }
    // The object is there before its name, so that whoever sees the name finds it.
    auto object = std::make_unique<SeriesObject>(control, m_bus, seriesObjectPath());
    if (!m_bus.registerObject(seriesObjectPath(), object.get(), QDBusConnection::ExportAdaptors)) {
        m_note = QStringLiteral("off, the object cannot be registered: %1").arg(m_bus.lastError().message());
        return;
    }
    // Neither queued for the name nor letting anyone take it over: one owner at a time.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_bus.unregisterObject(seriesObjectPath());
        m_nameTaken = reply.isValid();
        m_note = m_nameTaken
                     ? QStringLiteral("off, another program has the name %1 on the session bus").arg(service)
                     : QStringLiteral("off, the name %1 cannot be had: %2").arg(service, reply.error().message());
        return;
    }
    m_object = std::move(object);
    m_note = QStringLiteral("%1 %2 on the session bus").arg(service, seriesObjectPath());
}

RemoteControl::~RemoteControl()
{
    if (!m_object)
        return;
    // Scripts hear how the series ended before the name goes; giving the name back is a call
    // that the bus answers only after it has passed on every signal sent before.
    m_object->finish();
    m_bus.unregisterObject(seriesObjectPath());
    m_bus.unregisterService(m_service);
}
