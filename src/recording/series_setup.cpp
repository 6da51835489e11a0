#include "recording/series_setup.h"

#include "analog/analog_card.h"
#include "analog/card_factory.h"
#include "base/stopwatch.h"
#include "recording/save_target.h"
#include "recording/series_engine.h"

#include <QFileInfo>

SeriesSetup::SeriesSetup(SeriesEngine &engine) : m_engine(engine)
{
    StopwatchCreate(m_engine.state().StopwatchHandle);
}

SeriesSetup::~SeriesSetup()
{
    StopwatchDestroy(m_engine.state().StopwatchHandle);
}

void SeriesSetup::open(const QString &driverPath, std::unique_ptr<AnalogCard> card)
{
    m_engine.source().load(driverPath);
    if (!card)
        card = createAnalogCard(m_engine.state().BoardNumber);
    m_engine.setCard(std::move(card));
}

bool SeriesSetup::hasPicture() const
{
    return !m_engine.source().firstFrame().isNull();
}

bool SeriesSetup::cardIsSimulated() const
{
    return m_engine.card().isSimulated();
}

QString SeriesSetup::startRefusal(const StartRequest &request) const
{
    const QString refusal = ::startRefusal(request, [](const QString &name) { return QFileInfo::exists(name); });
    if (!refusal.isEmpty())
        return refusal;
    // A series that would save out of the directory stops at its first picture anyway; saying it
    // at Start keeps the user from setting out on it.
    const Status inside = checkSaveTarget(m_engine.state().SaveDirectory, request.fullFileName);
    return inside ? QString() : asSentence(inside.reason());
}

Status SeriesSetup::namesFit() const
{
    const CaptureState &s = m_engine.state();
    const NameOptions &o = m_engine.options();
    return checkNameLengths(s.SaveDirectory,
                            widestSeriesNames(s.BaseName, s.FileExtension, o.number, o.time, o.channel0, o.channel1));
}
