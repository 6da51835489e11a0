#pragma once

#include "recording/series_engine.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

class SeriesAdaptor;
class SeriesControl;

// The series as scripts see it on the session bus: its state and counters, and a signal for
// each picture and each turn of the series, all taken from what the engine reports. The adaptors
// (series_adaptor.h) export it; requests go to the window's or `record`'s SeriesControl.
//
// A series is `running` from Start, `stopping` from its end until every picture it took is
// written and has reached the disk, and `idle` again once `Stopped` has said how it went.
class SeriesObject : public QObject, public QDBusContext
{
    Q_OBJECT
public:
    SeriesObject(SeriesControl &control, const QDBusConnection &bus, const QString &path);

    SeriesControl &control() { return m_control; }
    SeriesEngine &engine();

    // Start as the control answers it; a series still being written comes first, so that the
    // signals of two series never mix.
    QString requestStart();
    // Answers the call being delivered: a refusal becomes the error kRefusedError with its text.
    void answer(const QString &refusal);

    QString state() const;
    uint picturesSaved() const { return m_pictures; }
    uint ticksMissed() const { return m_ticksMissed; }
    QString logPath() const { return m_logPath; }
    QString lastPicture() const { return m_lastPicture; }

    // The program ends: a series not yet announced as stopped is, with what is known of it.
    void finish();

private:
    enum class State { Idle, Running, Stopping };

    void onStarted();
    void onPictureSaved(const StepReport &report);
    void onStopped(SeriesEvent why, const QString &message);
    void onTick();
    void announceStarted();
    void endSeries(bool programEnds);
    void announceChangedProperties();
    // Sends a signal of the series' interface, as SeriesAdaptor declares it.
    void send(const char *signal, const QVariantList &arguments = {});

    SeriesControl &m_control;
    QDBusConnection m_bus;
    QString m_path;
    SeriesAdaptor *m_adaptor = nullptr;
    QVariantMap m_announced; // the properties as scripts last heard of them

    State m_state = State::Idle;
    quint64 m_series = 0; // counts the series started
    bool m_startAnnounced = false;
    uint m_pictures = 0;
    uint m_ticksMissed = 0;
    QString m_logPath;
    QString m_lastPicture;
    QString m_failure;
    QTimer m_tick; // while a series runs or stops: counters a few times a second, and its end
};
