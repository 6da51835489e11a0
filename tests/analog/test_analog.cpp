#include "analog/channel_reading.h"
#include "analog/comedi_card.h"
#include "analog/simulated_card.h"
#include "recording/capture_state.h"

#include <QtTest>

#include <cmath>

using RangeTable = std::vector<RangeLimits>;
Q_DECLARE_METATYPE(RangeTable)

class TestAnalog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reading_data();
    void reading();
    void readingsAppendAndFailuresShow();
    void simulatedCardVariesRepeatably();
    void chooseRange_data();
    void chooseRange();
    void toTwelveBitCount_data();
    void toTwelveBitCount();
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
    QCOMPARE(state.InputRange, 100);
    QCOMPARE(state.FullScale, channel == 0 ? 212 : 10);
    QCOMPARE(state.ScaledValue, state.FullScale * (count / 4096.0));
}

void TestAnalog::readingsAppendAndFailuresShow()
{
    SimulatedCard card;
    card.setCount(0, 2048);
    card.setCount(1, 2171);
    CaptureState state;
    takeChannelReading(state, card, 0, QLocale::c());
    takeChannelReading(state, card, 1, QLocale::c());
    QCOMPARE(state.AnalogSuffix, QStringLiteral("_106_mA_05.3_V"));
    QVERIFY(state.LastReading[0].ok && state.LastReading[0].count == 2048);

    // A failed read must not show the count the previous one left.
    card.setFailure(AnalogError::ReadFailed);
    QCOMPARE(takeChannelReading(state, card, 0, QLocale::c()), QStringLiteral("ERR_mA"));
    QCOMPARE(takeChannelReading(state, card, 1, QLocale::c()), QStringLiteral("ERR_V"));
    QCOMPARE(state.AnalogSuffix, QStringLiteral("_106_mA_05.3_V_ERR_mA_ERR_V"));
    QVERIFY(std::isnan(state.ScaledValue));
    QVERIFY(!state.LastReading[0].ok && !state.LastReading[1].ok);
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
    std::int16_t count = 5;
    QCOMPARE(first.AnalogIn(1, 0, 100, count), AnalogError::BadBoard);
    QCOMPARE(first.AnalogIn(0, 0, 1, count), AnalogError::NoMatchingRange);
    QCOMPARE(int(count), 5);
}

void TestAnalog::chooseRange_data()
{
    QTest::addColumn<RangeTable>("ranges");
    QTest::addColumn<int>("rangeCode");
    QTest::addColumn<int>("expected");

    auto bip = [](double v) { return RangeLimits{-v, v, RangeUnit::Volt}; };
    auto uni = [](double v) { return RangeLimits{0, v, RangeUnit::Volt}; };
    const RangeTable pgl{bip(10), bip(5), bip(2.5), bip(1.25), bip(0.625), uni(10), uni(5), uni(2.5), uni(1.25)};
    const RangeTable pgh{bip(10), bip(5), bip(1),  bip(0.5),  bip(0.1), bip(0.05),
                         bip(0.01), bip(0.005), uni(10), uni(1), uni(0.1), uni(0.01)};
    QTest::newRow("DAS08/PGL") << pgl << 100 << 5;
    QTest::newRow("DAS08/PGH") << pgh << 100 << 8;
    QTest::newRow("switch-set range") << RangeTable{RangeLimits{0, 1, RangeUnit::None}} << 100 << 0;
    QTest::newRow("fixed bipolar 5 V") << RangeTable{bip(5)} << 100 << -1;
    QTest::newRow("0 to 10 in mA") << RangeTable{RangeLimits{0, 10, RangeUnit::MilliAmpere}} << 100 << -1;
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

    QTest::newRow("12-bit as is") << 2171u << 4095u << 2171;
    QTest::newRow("16-bit full") << 65535u << 65535u << 4095;
    QTest::newRow("16-bit mid") << 32768u << 65535u << 2048;
    QTest::newRow("16-bit low bits dropped") << 15u << 65535u << 0;
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
}

QTEST_GUILESS_MAIN(TestAnalog)
#include "test_analog.moc"
