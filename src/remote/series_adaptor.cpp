#include "remote/series_adaptor.h"

#include "recording/series_control.h"
#include "recording/series_engine.h"
#include "remote/series_object.h"

SeriesAdaptor::SeriesAdaptor(SeriesObject *series) : QDBusAbstractAdaptor(series), m_series(*series)
{
}

void SeriesAdaptor::Start()
{
    m_series.answer(m_series.requestStart());
}

void SeriesAdaptor::Stop()
{
    m_series.answer(m_series.control().requestStop());
}

QString SeriesAdaptor::State() const
{
    return m_series.state();
}

QString SeriesAdaptor::Directory() const
{
    return m_series.engine().state().SaveDirectory;
}

QString SeriesAdaptor::BaseName() const
{
    return m_series.engine().state().BaseName;
}

QString SeriesAdaptor::FileType() const
{
    return m_series.engine().state().FileExtension;
}

uint SeriesAdaptor::Interval() const
{
    return uint(std::max(0, m_series.engine().timer().interval()));
}

QStringList SeriesAdaptor::Options() const
{
    return optionNames(m_series.engine().options());
}

QString SeriesAdaptor::NextFileName() const
{
    return m_series.engine().state().FullFileName;
}

uint SeriesAdaptor::PicturesSaved() const
{
    return m_series.picturesSaved();
}

uint SeriesAdaptor::TicksMissed() const
{
    return m_series.ticksMissed();
}

QString SeriesAdaptor::LogPath() const
{
    return m_series.logPath();
}

QString SeriesAdaptor::LastPicture() const
{
    return m_series.lastPicture();
}

SetupAdaptor::SetupAdaptor(SeriesObject *series) : QDBusAbstractAdaptor(series), m_series(*series)
{
}

void SetupAdaptor::SetDirectory(const QString &directory)
{
    m_series.answer(m_series.control().requestDirectory(directory));
}

void SetupAdaptor::SetBaseName(const QString &base_name)
{
    m_series.answer(m_series.control().requestBaseName(base_name));
}

void SetupAdaptor::SetFileType(const QString &file_type)
{
    m_series.answer(m_series.control().requestFileType(file_type));
}

void SetupAdaptor::SetInterval(uint milliseconds)
{
    m_series.answer(m_series.control().requestInterval(milliseconds));
}

void SetupAdaptor::SetOptions(const QStringList &options)
{
    m_series.answer(m_series.control().requestOptions(options));
}
