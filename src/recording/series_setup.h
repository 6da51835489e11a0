#pragma once

#include "base/status.h"
#include "recording/series.h"

#include <QString>

#include <memory>

class AnalogCard;
class SeriesEngine;

// What the window and `record` both do around a series: open the driver file or picture, the
// analog card and the stopwatch for the engine, and make the checks before a Start. The
// stopwatch lives as long as the setup.
class SeriesSetup
{
public:
    explicit SeriesSetup(SeriesEngine &engine);
    ~SeriesSetup();
    SeriesSetup(const SeriesSetup &) = delete;
    SeriesSetup &operator=(const SeriesSetup &) = delete;

    // Loads the driver file or picture as the engine's source, and gives it `card`, or, when
    // that is null, the card this machine has: the comedi device, else the simulated card.
    void open(const QString &driverPath, std::unique_ptr<AnalogCard> card = nullptr);
    // Whether the source delivers a picture; statusText() of the source says why not.
    bool hasPicture() const;
    bool cardIsSimulated() const;

    // The checks before a series may start, in their order, and then that the name leads to no
    // place outside the directory: the message of the first that fails, or an empty text. The
    // name checked is the one composed last.
    QString startRefusal(const StartRequest &request) const;

    // Whether every name the series may give its pictures and its log fits the file system of
    // the directory, with the base name, extension and options the engine holds now.
    Status namesFit() const;

private:
    SeriesEngine &m_engine;
};
