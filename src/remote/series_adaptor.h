#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

class SeriesObject;

// The interfaces of a series on the session bus, as data/pictures-in-a-row.Series.xml.in and
// data/pictures-in-a-row.Setup.xml.in describe them for D-Bus tools. They only pass requests
// on and answer with what they got: a refusal comes back as the error kRefusedError with the
// message a person at the window would read.

// Start, Stop, the state, the set-up and the counters, and a signal for each turn of the series.
class SeriesAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", PIR_APP_ID ".Series")
    Q_PROPERTY(QString State READ State)
    Q_PROPERTY(QString Directory READ Directory)
    Q_PROPERTY(QString BaseName READ BaseName)
    Q_PROPERTY(QString FileType READ FileType)
    Q_PROPERTY(uint Interval READ Interval)
    Q_PROPERTY(QStringList Options READ Options)
    Q_PROPERTY(QString NextFileName READ NextFileName)
    Q_PROPERTY(uint PicturesSaved READ PicturesSaved)
    Q_PROPERTY(uint TicksMissed READ TicksMissed)
    Q_PROPERTY(QString LogPath READ LogPath)
    Q_PROPERTY(QString LastPicture READ LastPicture)
public:
    explicit SeriesAdaptor(SeriesObject *series);

    QString State() const;
    QString Directory() const;
    QString BaseName() const;
    QString FileType() const;
    uint Interval() const;
    QStringList Options() const;
    QString NextFileName() const;
    uint PicturesSaved() const;
    uint TicksMissed() const;
    QString LogPath() const;
    QString LastPicture() const;

public Q_SLOTS:
    void Start();
    void Stop();

Q_SIGNALS:
    // Declared for D-Bus tools to see; SeriesObject sends them.
    void PictureSaved(uint number, const QString &path, double scheduled_ms, double stopwatch_ms);
    void Started(const QString &log_path);
    void Stopped(bool ok, const QString &reason, uint pictures, uint ticks_missed);
    void CameraLost(const QString &reason);
    void CameraBack();

private:
    SeriesObject &m_series;
};

// The window's set-up, each method as its control takes it.
class SetupAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", PIR_APP_ID ".Setup")
public:
    explicit SetupAdaptor(SeriesObject *series);

public Q_SLOTS:
    void SetDirectory(const QString &directory);
    void SetBaseName(const QString &base_name);
    void SetFileType(const QString &file_type);
    void SetInterval(uint milliseconds);
    void SetOptions(const QStringList &options);

private:
    SeriesObject &m_series;
};
