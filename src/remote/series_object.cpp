#include "remote/series_object.h"

#include "recording/series_control.h"
#include "remote/bus_names.h"
#include "remote/series_adaptor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QMetaProperty>

#include <algorithm>
#include <limits>

namespace {

// Counters change with every picture; scripts hear of them at most this often.
constexpr int kAnnounceMs = 250;

uint asCount(qint64 n)
{
    return uint(std::clamp<qint64>(n, 0, std::numeric_limits<uint>::max()));
}

} // namespace

SeriesObject::SeriesObject(SeriesControl &control, const QDBusConnection &bus, const QString &path)
    : m_control(control), m_bus(bus), m_path(path)
{
    m_adaptor = new SeriesAdaptor(this);
    if (control.offersSetup())
        new SetupAdaptor(this);
    SeriesEngine &e = engine();
    connect(&e, &SeriesEngine::started, this, &SeriesObject::onStarted);
    connect(&e, &SeriesEngine::pictureSaved, this, &SeriesObject::onPictureSaved);
    connect(&e, &SeriesEngine::stopped, this, &SeriesObject::onStopped);
    connect(&e, &SeriesEngine::saveFailed, this, [this](const QString &message) {
        if (m_state != State::Idle && m_failure.isEmpty())
            m_failure = message;
    });
    connect(&e, &SeriesEngine::synced, this, [this](const QString &logPath, const Status &result) {
        if (m_state != State::Idle && !result && logPath == m_logPath && m_failure.isEmpty())
            m_failure = result.reason();
    });
    connect(&e, &SeriesEngine::cameraAway, this, [this](const QString &reason) { send("CameraLost", {reason}); });
    connect(&e, &SeriesEngine::cameraBack, this, [this] { send("CameraBack"); });
    connect(&e, &SeriesEngine::ticksMissedChanged, this, [this](qint64 total) { m_ticksMissed = asCount(total); });
    // The set-up as a person or a script changes it; during a series only the counters change,
    // which the tick announces.
    connect(&e, &SeriesEngine::composed, this, [this] {
        if (m_state != State::Running)
            announceChangedProperties();
    });
    connect(&e.timer(), &CaptureTimer::intervalChanged, this, &SeriesObject::announceChangedProperties);
    m_tick.setInterval(kAnnounceMs);
    connect(&m_tick, &QTimer::timeout, this, &SeriesObject::onTick);
    announceChangedProperties(); // only takes note: nobody can have asked yet
}

SeriesEngine &SeriesObject::engine()
{
    return m_control.engine();
}

QString SeriesObject::requestStart()
{
    if (m_state == State::Stopping)
        return QStringLiteral("The last series is still being written; start the next once it has stopped.");
    return m_control.requestStart();
}

void SeriesObject::answer(const QString &refusal)
{
    if (!refusal.isEmpty())
        sendErrorReply(QLatin1String(kRefusedError), refusal);
}

QString SeriesObject::state() const
{
    switch (m_state) {
    case State::Running:
        return QStringLiteral("running");
    case State::Stopping:
        return QStringLiteral("stopping");
    case State::Idle:
        break;
    }
    return QStringLiteral("idle");
}

void SeriesObject::finish()
{
    if (m_state != State::Idle)
        endSeries(true);
}

void SeriesObject::onStarted()
{
    // A person may start the next series before the last one is written: that one ends here.
    if (m_state == State::Stopping)
        endSeries(false);
    m_state = State::Running;
    ++m_series;
    m_startAnnounced = false;
    m_pictures = m_ticksMissed = 0;
    m_logPath.clear();
    m_lastPicture.clear();
    m_failure.clear();
    announceChangedProperties();
    m_tick.start();
}

void SeriesObject::onPictureSaved(const StepReport &report)
{
    if (m_state == State::Idle)
        return;
    announceStarted();
    ++m_pictures;
    m_lastPicture = report.fileName;
    send("PictureSaved", {asCount(report.picture), report.fileName, report.scheduledMs, report.stopwatchMs});
}

void SeriesObject::onStopped(SeriesEvent why, const QString &message)
{
    if (m_state != State::Running)
        return;
    m_state = State::Stopping;
    if (why == SeriesEvent::StepFailed && m_failure.isEmpty())
        m_failure = message;
    announceChangedProperties();
}

void SeriesObject::onTick()
{
    // The log is opened by the writer with the first picture; Started names it once it is.
    if (!m_startAnnounced && !engine().logPath().isEmpty())
        announceStarted();
    announceChangedProperties();
    // What the writer and the sync reported last is still on its way to this thread: the end
    // comes after it.
    if (m_state == State::Stopping && engine().waitForSync(0)) {
        m_tick.stop();
        QMetaObject::invokeMethod(
            this,
            [this, series = m_series] {
                if (m_series == series && m_state == State::Stopping)
                    endSeries(false);
            },
            Qt::QueuedConnection);
    }
}

void SeriesObject::announceStarted()
{
    if (m_startAnnounced)
        return;
    m_startAnnounced = true;
    m_logPath = engine().logPath();
    announceChangedProperties();
    send("Started", {m_logPath});
}

// Ends the series for the bus. When the program ends, the pictures may not all be written:
// then the series did not go well, whatever else it met.
void SeriesObject::endSeries(bool programEnds)
{
    if (m_state == State::Idle)
        return;
    if (programEnds)
        QCoreApplication::sendPostedEvents(&engine(), QEvent::MetaCall); // the last pictures' reports
    announceStarted();
    QString reason = m_failure;
    if (programEnds && reason.isEmpty() && !engine().waitForSync(0))
        reason = QStringLiteral("The program ended before every picture had reached the disk.");
    m_state = State::Idle;
    m_tick.stop();
    announceChangedProperties();
    send("Stopped", {reason.isEmpty(), reason, m_pictures, m_ticksMissed});
}

// Sends PropertiesChanged with every property of the series that changed since it was last sent.
void SeriesObject::announceChangedProperties()
{
    QVariantMap changed;
    const QMetaObject *meta = m_adaptor->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        const QString name = QLatin1String(property.name());
        const QVariant value = property.read(m_adaptor);
        const auto announced = m_announced.constFind(name);
        if (announced != m_announced.constEnd() && *announced == value)
            continue;
        if (announced != m_announced.constEnd())
            changed.insert(name, value);
        m_announced.insert(name, value);
    }
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(m_path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QLatin1String(kSeriesInterface) << changed << QStringList();
    m_bus.send(signal);
}

// Sent here rather than relayed by the adaptor, which Qt does later on a thread of its own: in
// the order of everything else, and before the name goes when the program ends.
void SeriesObject::send(const char *signal, const QVariantList &arguments)
{
    QDBusMessage message =
        QDBusMessage::createSignal(m_path, QLatin1String(kSeriesInterface), QLatin1String(signal));
    message.setArguments(arguments);
    m_bus.send(message);
}
