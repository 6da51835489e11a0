#include "analog/card_factory.h"
#include "analog/channel_reading.h"
#include "analog/comedi_card.h"
#include "analog/simulated_card.h"
#include "app/capture_state.h"

#include <QFileInfo>
#include <QtTest>

#include <cmath>

using RangeTable = std::vector<RangeLimits>;
Q_DECLARE_METATYPE(RangeTable)

namespace {

RangeLimits bip(double v) { return RangeLimits{-v, v, RangeUnit::Volt}; }
RangeLimits uni(double v) { return RangeLimits{0, v, RangeUnit::Volt}; }

} // namespace

class TestAnalog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reading_data();
    void reading();
    void readingsAppendAndTouchOnlyTheirChannel();
    void failedReadShowsError_data();
    void failedReadShowsError();
    void simulatedCardVariesRepeatably();
    void simulatedCardRefusesWhatNoCardCouldDo();
    void chooseRange_data();
    void chooseRange();
    void toTwelveBitCount_data();
    void toTwelveBitCount();
    void factoryFallsBackToSimulation();
    void comediCardReadsBothChannels();
};

void TestAnalog::reading_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("label");

    const struct { int count; const char *mA; const char *V; } rows[] = {
        {0, "000_mA", "00.0_V"},    {512, "027_mA", "01.3_V"},  {2048, "106_mA", "05.0_V"},
        {2171, "112_mA", "05.3_V"}, {4095, "212_mA", "10.0_V"},
    };
    for (const auto &r : rows) {
        QTest::addRow("ch0 count %d", r.count) << 0 << r.count << "C" << QString::fromLatin1(r.mA);
        QTest::addRow("ch1 count %d", r.count) << 1 << r.count << "C" << QString::fromLatin1(r.V);
    }
    QTest::newRow("ch1 decimal comma") << 1 << 2171 << "de_DE" << "05,3_V";
    QTest::newRow("ch0 under German locale") << 0 << 2048 << "de_DE" << "106_mA";
}

void TestAnalog::reading()
{
    QFETCH(int, channel);
    QFETCH(int, count);
    QFETCH(QString, locale);
    QFETCH(QString, label);

    SimulatedCard card;
    card.setCount(channel, std::int16_t(count));
    CaptureState state;
    QCOMPARE(takeChannelReading(state, card, channel, QLocale(locale)), label);
    QCOMPARE(state.AnalogSuffix, u'_' + label);
    QCOMPARE(state.ChannelNumber, channel);
    QCOMPARE(state.InputRange, 100);
    QCOMPARE(state.FullScale, channel == 0 ? 212 : 10);
    QCOMPARE(state.UnitSuffix, channel == 0 ? QStringLiteral("_mA") : QStringLiteral("_V"));
    QCOMPARE(int(state.RawCount), count);
    QCOMPARE(state.ScaledValue, state.FullScale * (count / 4096.0));
}

void TestAnalog::readingsAppendAndTouchOnlyTheirChannel()
{
    SimulatedCard card;
    card.setCount(0, 2048);
    card.setCount(1, 2171);
    CaptureState state;
    takeChannelReading(state, card, 0, QLocale::c());
    QCOMPARE(state.AnalogSuffix, QStringLiteral("_106_mA"));
    takeChannelReading(state, card, 1, QLocale::c());
    QCOMPARE(state.AnalogSuffix, QStringLiteral("_106_mA_05.3_V"));
    QCOMPARE(card.readCount(0), 1);
    QCOMPARE(card.readCount(1), 1);
}

void TestAnalog::failedReadShowsError_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("label");
    QTest::newRow("channel 0") << 0 << "ERR_mA";
    QTest::newRow("channel 1") << 1 << "ERR_V";
}

void TestAnalog::failedReadShowsError()
{
    QFETCH(int, channel);
    QFETCH(QString, label);

    SimulatedCard card;
    card.setCount(channel, 2048);
    card.setFailure(AnalogError::ReadFailed);
    CaptureState state;
    state.RawCount = 777;
    state.AnalogSuffix = QStringLiteral("_000_mA");
    QCOMPARE(takeChannelReading(state, card, channel, QLocale::c()), label);
    QCOMPARE(state.AnalogSuffix, QStringLiteral("_000_mA_") + label);
    QCOMPARE(int(state.RawCount), 777);
    QVERIFY(std::isnan(state.ScaledValue));

    card.setFailure(0);
    takeChannelReading(state, card, channel, QLocale::c());
    QCOMPARE(int(state.RawCount), 2048);
}

void TestAnalog::simulatedCardVariesRepeatably()
{
    SimulatedCard first;
    SimulatedCard second;
    QSet<int> seen;
    for (int i = 0; i < 400; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            std::int16_t a = -1;
            std::int16_t b = -1;
            QCOMPARE(first.AnalogIn(0, channel, 100, a), 0);
            QCOMPARE(second.AnalogIn(0, channel, 100, b), 0);
            QCOMPARE(a, b);
            QVERIFY(a >= 0 && a <= 4095);
            seen.insert(channel * 10000 + a);
        }
    }
    // Every read moves the wave on, so successive pictures carry different readings.
    QCOMPARE(seen.size(), 800);
}

void TestAnalog::simulatedCardRefusesWhatNoCardCouldDo()
{
    SimulatedCard card(0);
    std::int16_t count = 5;
    QCOMPARE(card.AnalogIn(1, 0, 100, count), AnalogError::BadBoard);
    QCOMPARE(card.AnalogIn(0, 2, 100, count), AnalogError::BadChannel);
    QCOMPARE(card.AnalogIn(0, 0, 1, count), AnalogError::NoMatchingRange);
    QCOMPARE(int(count), 5);
    QVERIFY(card.isSimulated());
}

void TestAnalog::chooseRange_data()
{
    QTest::addColumn<RangeTable>("ranges");
    QTest::addColumn<int>("rangeCode");
    QTest::addColumn<int>("expected");

    const RangeTable pgl{bip(10), bip(5), bip(2.5), bip(1.25), bip(0.625), uni(10), uni(5), uni(2.5), uni(1.25)};
    const RangeTable pgh{bip(10), bip(5), bip(1), bip(0.5), bip(0.1), bip(0.05), bip(0.01), bip(0.005),
                         uni(10), uni(1), uni(0.1), uni(0.01)};
    QTest::newRow("DAS08/PGL") << pgl << 100 << 5;
    QTest::newRow("DAS08/PGH") << pgh << 100 << 8;
    QTest::newRow("switch-set range") << RangeTable{RangeLimits{0, 1, RangeUnit::None}} << 100 << 0;
    QTest::newRow("fixed bipolar 5 V") << RangeTable{bip(5)} << 100 << -1;
    QTest::newRow("unipolar 5 V only") << RangeTable{uni(5)} << 100 << -1;
    QTest::newRow("0 to 10 in mA") << RangeTable{RangeLimits{0, 10, RangeUnit::MilliAmpere}} << 100 << -1;
    QTest::newRow("no ranges") << RangeTable{} << 100 << -1;
    QTest::newRow("unknown range code") << pgl << 1 << -1;
}

void TestAnalog::chooseRange()
{
    QFETCH(RangeTable, ranges);
    QFETCH(int, rangeCode);
    QFETCH(int, expected);
    QCOMPARE(::chooseRange(ranges, rangeCode), expected);
}

void TestAnalog::toTwelveBitCount_data()
{
    QTest::addColumn<uint>("sample");
    QTest::addColumn<uint>("maxdata");
    QTest::addColumn<int>("expected");

    QTest::newRow("12-bit zero") << 0u << 4095u << 0;
    QTest::newRow("12-bit as is") << 2171u << 4095u << 2171;
    QTest::newRow("12-bit full") << 4095u << 4095u << 4095;
    QTest::newRow("16-bit full") << 65535u << 65535u << 4095;
    QTest::newRow("16-bit mid") << 32768u << 65535u << 2048;
    QTest::newRow("16-bit low bits dropped") << 15u << 65535u << 0;
    QTest::newRow("16-bit one step") << 16u << 65535u << 1;
    QTest::newRow("10-bit full") << 1023u << 1023u << 4092;
    QTest::newRow("sample above maxdata") << 5000u << 4095u << 4095;
}

void TestAnalog::toTwelveBitCount()
{
    QFETCH(uint, sample);
    QFETCH(uint, maxdata);
    QFETCH(int, expected);
    QCOMPARE(int(::toTwelveBitCount(sample, maxdata)), expected);
}

void TestAnalog::factoryFallsBackToSimulation()
{
    if (QFileInfo::exists(QStringLiteral("/dev/comedi0")))
        QSKIP("A comedi device is installed; the fallback needs a machine without one.");
    const std::unique_ptr<AnalogCard> card = createAnalogCard(0);
    QVERIFY(card->isSimulated());
    std::int16_t count = -1;
    QCOMPARE(card->AnalogIn(0, 1, 100, count), 0);
    QVERIFY(count >= 0 && count <= 4095);
}

void TestAnalog::comediCardReadsBothChannels()
{
    QString reason;
    const std::unique_ptr<ComediCard> card = ComediCard::open(0, &reason);
    if (!card)
        QSKIP(qPrintable("Needs a data-acquisition card at /dev/comedi0 with a 0 to 10 V range: " + reason));
    for (int channel = 0; channel < 2; ++channel) {
        std::int16_t count = -1;
        QCOMPARE(card->AnalogIn(0, channel, 100, count), 0);
        QVERIFY(count >= 0 && count <= 4095);
    }
    std::int16_t count = -1;
    QCOMPARE(card->AnalogIn(1, 0, 100, count), AnalogError::BadBoard);
}

QTEST_GUILESS_MAIN(TestAnalog)
#include "test_analog.moc"
