#include "ui/display_control.h"
#include "ui/caption_fit.h"
#include "ui/form1.h"
#include "ui/window_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

// Runs once per screen density: CTest starts it with QT_FONT_DPI at 96, 120, 144 and 192 and
// Qt's own scaling off, so that the fonts and the layout both follow the density.

namespace {

QString captionOf(const QWidget *w)
{
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *group = qobject_cast<const QGroupBox *>(w))
        return group->title();
    return qobject_cast<const QLineEdit *>(w)->text();
}

// A control of the kind `kind` in Debian's default face at the window's 8.25 points, `size`
// pixels large.
std::unique_ptr<QWidget> makeControl(const QString &kind, const QString &text, QSize size)
{
    std::unique_ptr<QWidget> w;
    if (kind == QLatin1String("label")) {
        auto *label = new QLabel(text);
        label->setWordWrap(true);
        w.reset(label);
    } else if (kind == QLatin1String("check")) {
        w = std::make_unique<QCheckBox>(text);
    } else if (kind == QLatin1String("button")) {
        w = std::make_unique<QPushButton>(text);
    } else if (kind == QLatin1String("edit")) {
        w = std::make_unique<QLineEdit>(text);
    } else {
        auto *combo = new QComboBox;
        combo->setEditable(true);
        w.reset(combo);
    }
    QFont font = w->font();
    font.setFamilies({QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    w->setFont(font);
    w->setGeometry(QRect(QPoint(0, 0), size));
    return w;
}

QByteArray describe(const QString &text, const CaptionFit &fit)
{
    return QStringLiteral("\"%1\" needs %2 x %3 px, has %4 x %5 px")
        .arg(text)
        .arg(fit.need.width())
        .arg(fit.need.height())
        .arg(fit.room.width())
        .arg(fit.room.height())
        .toUtf8();
}

} // namespace

class TestForm1Captions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void densityIsTheRequestedOne();
    void measureSeesClipping_data();
    void measureSeesClipping();
    void everyCaptionFits_data();
    void everyCaptionFits();
    void windowIsTheDesignScaled();

private:
    std::unique_ptr<Form1> m_form;
};

void TestForm1Captions::initTestCase()
{
    m_form = std::make_unique<Form1>(qEnvironmentVariable("PIR_DRIVERS_DIR") + QStringLiteral("/test-pattern.vin"));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestForm1Captions::cleanupTestCase()
{
    m_form.reset();
}

void TestForm1Captions::densityIsTheRequestedOne()
{
    const double dpi = qEnvironmentVariableIntValue("QT_FONT_DPI");
    QVERIFY2(dpi > 0, "QT_FONT_DPI is not set");
    QCOMPARE(m_form->screen()->logicalDotsPerInch(), dpi);
}

// The measure must see what a user sees: captions clipped in boxes of the design's pixel
// sizes at 96 dpi, with Debian's default face, and room to spare in boxes three times as large.
void TestForm1Captions::measureSeesClipping_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");
    const struct
    {
        const char *kind;
        const char *text;
        QSize size;
    } rows[] = {{"label", "msec", {25, 17}},
                {"label", "Trigger every", {65, 17}},
                {"check", "Live Picture", {81, 17}},
                {"button", "Set Directory", {60, 21}},
                {"edit", "VideoBasename", {89, 21}},
                {"combo", ".bmp", {49, 21}}};
    for (const auto &row : rows) {
        QTest::addRow("%s %s clipped", row.kind, row.text) << row.kind << row.text << row.size;
        QTest::addRow("%s %s roomy", row.kind, row.text) << row.kind << row.text << row.size * 3;
    }
}

void TestForm1Captions::measureSeesClipping()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QSize, size);
    const auto control = makeControl(kind, text, size);
    if (QFontInfo(control->font()).family() != QLatin1String("DejaVu Sans"))
        QSKIP("DejaVu Sans, Debian's default face, is not installed");
    const CaptionFit fit = captionFit(*control, text);
    QVERIFY2(fit.fits() == QByteArray(QTest::currentDataTag()).endsWith("roomy"), describe(text, fit));
}

void TestForm1Captions::everyCaptionFits_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text"); // null: the caption the window starts with

    for (const char *name : {"FileSetupFrame", "VideoSetupFrame", "ADFrame", "Channel0Frame", "Channel1Frame",
                             "OpenImage", "QuitCommand", "SetDir", "Read0Command", "Read1Command", "SaveText",
                             "TimeName", "FileLabel", "NumberCheck", "TimeCheck", "LiveCheck1", "FrameLabel",
                             "Frames", "Label1", "RangeLabel", "Channel0Label", "Channel1Label", "Channel0Check",
                             "Channel1Check", "StartStop"})
        QTest::newRow(name) << name << QString();
    // Texts the controls show later: the other caption of the big button, the longest interval,
    // the list's file types and the widest readings.
    QTest::newRow("StartStop Stop") << "StartStop" << "Stop";
    QTest::newRow("Frames 65000") << "Frames" << "65000";
    for (const char *type : {".bmp", ".tif", ".jpg", ".mio"})
        QTest::newRow(type) << "FileType" << type;
    QTest::newRow("Channel0OutLabel 212_mA") << "Channel0OutLabel" << "212_mA";
    QTest::newRow("Channel0OutLabel ERR_mA") << "Channel0OutLabel" << "ERR_mA";
    QTest::newRow("Channel1OutLabel 10.0_V") << "Channel1OutLabel" << "10.0_V";
    QTest::newRow("Channel1OutLabel ERR_V") << "Channel1OutLabel" << "ERR_V";
}

void TestForm1Captions::everyCaptionFits()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    const auto *w = m_form->findChild<QWidget *>(control);
    QVERIFY(w);
    if (text.isNull())
        text = captionOf(w);
    QVERIFY(!text.isEmpty());
    const CaptionFit fit = captionFit(*w, text);
    QVERIFY2(fit.fits(), describe(text, fit));
    QVERIFY(w->rect().contains(fit.room));
}

// Whatever the density and the face, the controls keep their designed places relative to each
// other: every position and size is the design's, times one factor.
void TestForm1Captions::windowIsTheDesignScaled()
{
    Form1 &f = *m_form;
    const DesignUnits du = windowUnits(f);
    QCOMPARE(f.size(), QSize(du.px(10035), du.px(8640 + 270)));
    QCOMPARE(f.CVdisplay1->geometry(), du.rect(0, 1320, 7095, 7215));
    QCOMPARE(f.ADFrame->geometry(), du.rect(7200, 4200, 2775, 2415));
    QCOMPARE(f.Channel0Label->geometry(), du.rect(120, 240, 1335, 495));
    QCOMPARE(f.FileType->geometry(), du.rect(6600, 240, 735, 315));
    QCOMPARE(f.QuitCommand->geometry(), du.rect(8760, 8040, 1095, 495));
}

QTEST_MAIN(TestForm1Captions)
#include "test_form1_captions.moc"
