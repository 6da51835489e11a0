// The comedi card against a stand-in of comedilib linked into this test in place of the
// library: boards of the DAS08 kind, failing reads, and a card that goes away mid-series.

#include "analog/card_factory.h"
#include "analog/channel_reading.h"
#include "analog/comedi_card.h"
#include "analog/fake_comedi.h"
#include "recording/capture_state.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "test_files.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(FakeComediBoard)

namespace {

constexpr int kBoard = 0;

// A small test-pattern camera, so that the window needs no device of its own.
QString writeDriver(const QTemporaryDir &dir)
{
    return writeTextFile(dir.filePath(QStringLiteral("pattern.vin")), "source = test-pattern\nwidth = 64\nheight = 48\n");
}

FakeComediBoard board(std::vector<comedi_range> ranges, lsampl_t maxdata = 4095)
{
    FakeComediBoard b;
    b.ranges = std::move(ranges);
    b.maxdata = maxdata;
    return b;
}

} // namespace

class TestComedi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void cardOrSimulated_data();
    void cardOrSimulated();
    void reading_data();
    void reading();
    void cardGoneMidSeries();
};

void TestComedi::cleanup()
{
    FakeComedi::unplug(kBoard);
    QCOMPARE(FakeComedi::openHandles(), 0);
}

void TestComedi::cardOrSimulated_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<int>("openError");
    QTest::addColumn<bool>("analogInput");
    QTest::addColumn<QString>("warning"); // empty: none
    QTest::addColumn<QString>("title");

    const QString simulated = QStringLiteral("AD-Card - CIO-DAS08 (simulated)");
    QTest::newRow("no /dev/comedi0") << false << 0 << true << "" << simulated;
    QTest::newRow("not allowed to open") << true << EACCES << true << "/dev/comedi0: Permission denied" << simulated;
    QTest::newRow("no analog input") << true << 0 << false << "/dev/comedi0 has no analog input" << simulated;
    QTest::newRow("DAS08") << true << 0 << true << "" << "AD-Card - CIO-DAS08";
}

void TestComedi::cardOrSimulated()
{
    QFETCH(bool, present);
    QFETCH(int, openError);
    QFETCH(bool, analogInput);
    QFETCH(QString, warning);
    QFETCH(QString, title);

    if (present) {
        FakeComediBoard b;
        b.openError = openError;
        b.hasAnalogInput = analogInput;
        FakeComedi::plug(kBoard, b);
    }
    // A device that is there but unusable is worth a warning; a missing one is not.
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    QTemporaryDir dir;
    Form1 form(writeDriver(dir));
    QCOMPARE(form.ADFrame->title(), title);
}

void TestComedi::reading_data()
{
    QTest::addColumn<FakeComediBoard>("description");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("range"); // the range index read; -1: nothing read

    auto bip = [](double v) { return comedi_range{-v, v, UNIT_volt}; };
    auto uni = [](double v) { return comedi_range{0, v, UNIT_volt}; };
    const auto pgl = board({bip(10), bip(5), bip(2.5), bip(1.25), bip(0.625), uni(10), uni(5), uni(2.5), uni(1.25)});
    QTest::newRow("12-bit, 0-10 V among others") << pgl << 0 << 0 << "106_mA" << 5;
    QTest::newRow("12-bit, channel 1") << pgl << 1 << 0 << "05.3_V" << 5;
    QTest::newRow("single range set by switches") << board({{0, 1, UNIT_none}}) << 1 << 0 << "05.3_V" << 0;
    FakeComediBoard wide = board({bip(10), uni(10)}, 65535);
    wide.samples = {32768, 65535};
    QTest::newRow("16-bit converter") << wide << 0 << 0 << "106_mA" << 1;
    QTest::newRow("16-bit converter, full scale") << wide << 1 << 0 << "10.0_V" << 1;
    QTest::newRow("no 0-10 V range") << board({bip(5)}) << 0 << int(AnalogError::NoMatchingRange) << "ERR_mA" << -1;
    FakeComediBoard failing = pgl;
    failing.readError = EIO;
    QTest::newRow("read fails") << failing << 0 << int(AnalogError::ReadFailed) << "ERR_mA" << -1;
    FakeComediBoard oneChannel = pgl;
    oneChannel.channels = 1;
    QTest::newRow("no such channel") << oneChannel << 1 << int(AnalogError::BadChannel) << "ERR_V" << -1;
}

void TestComedi::reading()
{
    QFETCH(FakeComediBoard, description);
    QFETCH(int, channel);
    QFETCH(int, status);
    QFETCH(QString, label);
    QFETCH(int, range);

    FakeComedi::plug(kBoard, description);
    const std::unique_ptr<AnalogCard> card = createAnalogCard(kBoard);
    QVERIFY(!card->isSimulated());
    const std::size_t readsBefore = FakeComedi::rangesRead().size();
    std::int16_t count = -1;
    QCOMPARE(card->AnalogIn(kBoard, channel, 100, count), status);
    CaptureState state;
    QCOMPARE(takeChannelReading(state, *card, channel, QLocale::c()), label);
    const std::vector<unsigned> ranges = FakeComedi::rangesRead();
    QCOMPARE(int(ranges.size() - readsBefore), range < 0 ? 0 : 2);
    if (range >= 0)
        QCOMPARE(int(ranges.back()), range);
    QCOMPARE(card->AnalogIn(kBoard + 1, channel, 100, count), int(AnalogError::BadBoard));
}

void TestComedi::cardGoneMidSeries()
{
    FakeComedi::plug(kBoard, board({{-10, 10, UNIT_volt}, {0, 10, UNIT_volt}}));
    QTemporaryDir dir;
    QStringList messages;
    setMessageSink([&messages](const QString &text) { messages << text; });
    {
        Form1 form(writeDriver(dir));
        form.state().SaveDirectory = dir.path() + QStringLiteral("/out/");
        form.NumberCheck->setChecked(true);
        form.Channel0Check->setChecked(true);
        form.Timer1->setInterval(50);
        form.SaveText->setText(QStringLiteral("Card"));
        form.StartStop->click();
        const QDir out(dir.path() + QStringLiteral("/out"));
        auto pictures = [&out] { return out.entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name); };
        QTRY_VERIFY(pictures().size() >= 3);
        FakeComedi::unplug(kBoard);
        const int before = int(pictures().size());
        QTRY_VERIFY(pictures().size() >= before + 3); // the series goes on
        form.StartStop->click();
        QTRY_COMPARE(form.state().Recording, RecordingState::Idle);
        const QStringList names = pictures();
        QVERIFY2(names.first().contains(QStringLiteral("_106_mA")), qPrintable(names.first()));
        // Once the card is gone no name may carry a reading it did not take.
        QVERIFY2(names.last().contains(QStringLiteral("_ERR_mA")), qPrintable(names.last()));
        QVERIFY(form.Channel0OutLabel->text() == QStringLiteral("ERR_mA"));
        const QStringList logs = out.entryList({QStringLiteral("*.csv")}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        QFile log(out.filePath(logs.first()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("ERR"));
    }
    setMessageSink({});
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('|'))));
}

QTEST_MAIN(TestComedi)
#include "test_comedi.moc"
