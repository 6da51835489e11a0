#include "analog/comedi_card.h"

#include <comedilib.h>

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cmath>

static_assert(RangeUnit::Volt == UNIT_volt && RangeUnit::MilliAmpere == UNIT_mA && RangeUnit::None == UNIT_none);

namespace {

constexpr int unipolar10Volts = 100;

bool sameLimit(double a, double b)
{
    return std::fabs(a - b) < 1e-6;
}

} // namespace

std::optional<RangeLimits> limitsOfRangeCode(int rangeCode)
{
    if (rangeCode == unipolar10Volts)
        return RangeLimits{0.0, 10.0, RangeUnit::Volt};
    return std::nullopt;
}

int chooseRange(const std::vector<RangeLimits> &ranges, int rangeCode)
{
    const std::optional<RangeLimits> wanted = limitsOfRangeCode(rangeCode);
    if (!wanted)
        return -1;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const RangeLimits &r = ranges[i];
        if (r.unit == wanted->unit && sameLimit(r.min, wanted->min) && sameLimit(r.max, wanted->max))
            return int(i);
    }
    // Boards whose range is set by switches (the plain CIO-DAS08 among them) report a single
    // range of unknown unit: the switches, not the program, choose it.
    if (ranges.size() == 1 && ranges.front().unit == RangeUnit::None)
        return 0;
    return -1;
}

std::int16_t toTwelveBitCount(std::uint32_t sample, std::uint32_t maxdata)
{
    constexpr std::uint32_t twelveBitMax = 4095;
    if (maxdata == twelveBitMax || maxdata == 0)
        return std::int16_t(qMin(sample, twelveBitMax));
    // Truncating, as a 12-bit converter would: a 16-bit sample loses its four low bits.
    const std::uint64_t count =
        std::uint64_t(qMin(sample, maxdata)) * (twelveBitMax + 1) / (std::uint64_t(maxdata) + 1);
    return std::int16_t(qMin<std::uint64_t>(count, twelveBitMax));
}

std::unique_ptr<ComediCard> ComediCard::open(int board, QString *reason)
{
    const QByteArray path = QStringLiteral("/dev/comedi%1").arg(board).toLocal8Bit();
    comedi_t *device = comedi_open(path.constData());
    if (!device) {
        // No such device at all is the usual case without a card, not a fault to report.
        if (reason && comedi_errno() != ENOENT)
            *reason = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(path),
                                                    QString::fromLocal8Bit(comedi_strerror(comedi_errno())));
        return nullptr;
    }
    const int subdevice = comedi_find_subdevice_by_type(device, COMEDI_SUBD_AI, 0);
    if (subdevice < 0) {
        if (reason)
            *reason = QStringLiteral("%1 has no analog input").arg(QString::fromLocal8Bit(path));
        comedi_close(device);
        return nullptr;
    }
    return std::unique_ptr<ComediCard>(new ComediCard(device, board, subdevice));
}

ComediCard::ComediCard(comedi_t_struct *device, int board, int subdevice)
    : m_device(device), m_board(board), m_subdevice(subdevice)
{
}

ComediCard::~ComediCard()
{
    comedi_close(m_device);
}

std::vector<RangeLimits> ComediCard::rangesOf(unsigned channel) const
{
    std::vector<RangeLimits> ranges;
    const int rangeCount = comedi_get_n_ranges(m_device, unsigned(m_subdevice), channel);
    for (int i = 0; i < rangeCount; ++i) {
        const comedi_range *r = comedi_get_range(m_device, unsigned(m_subdevice), channel, unsigned(i));
        // A range that cannot be described must never be chosen.
        constexpr unsigned undescribed = ~0u;
        ranges.push_back(r ? RangeLimits{r->min, r->max, r->unit} : RangeLimits{0, 0, undescribed});
    }
    return ranges;
}

int ComediCard::AnalogIn(int board, int channel, int range, std::int16_t &count)
{
    const unsigned subdevice = unsigned(m_subdevice);
    if (board != m_board)
        return AnalogError::BadBoard;
    if (channel < 0 || channel >= comedi_get_n_channels(m_device, subdevice))
        return AnalogError::BadChannel;

    const unsigned chan = unsigned(channel);
    const int chosen = chooseRange(rangesOf(chan), range);
    if (chosen < 0)
        return AnalogError::NoMatchingRange;

    lsampl_t sample = 0;
    if (comedi_data_read(m_device, subdevice, chan, unsigned(chosen), AREF_GROUND, &sample) < 0)
        return AnalogError::ReadFailed;
    count = toTwelveBitCount(sample, comedi_get_maxdata(m_device, subdevice, chan));
    return 0;
}
