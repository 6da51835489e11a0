#pragma once

#include <QDBusConnection>
#include <QString>

#include <memory>

class SeriesControl;
class SeriesObject;

// Puts a series on the session bus of the user who runs the program, under `service`, for the
// scripts of that user; nothing listens anywhere else. Without a session bus, or when another
// program already has the name, the series runs as it would without, and note() says why.
class RemoteControl
{
public:
    RemoteControl(SeriesControl &control, const QString &service);
    ~RemoteControl();
    RemoteControl(const RemoteControl &) = delete;
    RemoteControl &operator=(const RemoteControl &) = delete;

    bool isOn() const { return m_object != nullptr; }
    // Whether another program had the name, so that this one is not on the bus.
    bool nameTaken() const { return m_nameTaken; }
    // For the series log: where scripts reach the series, or that they cannot and why.
    QString note() const { return m_note; }

private:
    QDBusConnection m_bus;
    QString m_service;
    std::unique_ptr<SeriesObject> m_object;
    bool m_nameTaken = false;
    QString m_note;
};
