#include "ui/form1.h"

#include "analog/analog_card.h"
#include "recording/paths.h"
#include "ui/display_control.h"
#include "ui/grabber_control.h"
#include "ui/image_control.h"
#include "ui/caption_fit.h"
#include "ui/common_dialog.h"
#include "ui/design_units.h"
#include "ui/status_line.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <functional>
#include <vector>

namespace {

// Names a control for the code, for UI automation and, where it has no caption, for people.
template <typename W>
W *named(W *widget, const char *name, const QString &accessibleName = QString())
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleDescription(QLatin1String(name));
    if (!accessibleName.isEmpty())
        widget->setAccessibleName(accessibleName);
    return widget;
}

// Places the controls at the smallest factor of the design at which every caption and text
// fits in the window's fonts, so that the window reads the same with any face and density.
void placeAtFittingScale(Form1 &f, const std::vector<std::function<void(const DesignUnits &)>> &placements)
{
    // Besides the captions they start with, controls show these texts later: the other caption
    // of the big button, the longest interval, the list's file types, the widest readings and
    // the title of a simulated card.
    ControlTexts texts = {{f.StartStop, QStringLiteral("Stop")},
                          {f.Frames, QStringLiteral("65000")},
                          {f.Channel0OutLabel, QStringLiteral("212_mA")},
                          {f.Channel0OutLabel, QStringLiteral("ERR_mA")},
                          {f.Channel1OutLabel, QStringLiteral("10.0_V")},
                          {f.Channel1OutLabel, QStringLiteral("ERR_V")},
                          {f.ADFrame, QStringLiteral("AD-Card - CIO-DAS08 (simulated)")}};
    for (int i = 0; i < f.FileType->count(); ++i)
        texts.emplace_back(f.FileType, f.FileType->itemText(i));
    for (QWidget *w : f.findChildren<QWidget *>()) {
        // The window's own controls carry their name as their description, Qt's parts do not.
        if (w->objectName().isEmpty() || w->accessibleDescription() != w->objectName())
            continue;
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            texts.emplace_back(b, b->text());
        else if (auto *g = qobject_cast<QGroupBox *>(w))
            texts.emplace_back(g, g->title());
        else if (auto *l = qobject_cast<QLabel *>(w); l && !l->text().isEmpty())
            texts.emplace_back(l, l->text());
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            texts.emplace_back(e, e->text());
    }
    const QScreen *screen = f.screen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    fittingFactor(
        [&](double factor) {
            const DesignUnits du(dpi, factor);
            for (const auto &place : placements)
                place(du);
        },
        texts);
}

} // namespace

Form1::Form1(const QString &driverPath, std::unique_ptr<AnalogCard> card, QWidget *parent)
    : QWidget(parent)
{
    named(this, "Form1");
    setWindowTitle(QStringLiteral("Pictures in a row"));
    createControls();
    startUp(driverPath, std::move(card));

    connect(QuitCommand, &QPushButton::clicked, this, &QWidget::close);
    connect(LiveCheck1, &QCheckBox::toggled, this, &Form1::LiveCheck1_Click);
    connect(OpenImage, &QPushButton::clicked, this, &Form1::OpenImage_Click);
    connect(CVimage1, &ImageControl::imageUpdated, CVdisplay1, &DisplayControl::refresh);
    connect(CVgrabber1, &GrabberControl::notification, this, [this] {
        CVdisplay1->setImageHandle(0);
        CVdisplay1->setImageHandle(CVimage1->imageHandle());
    });
    connectNamingHandlers();
    connectRecordingHandlers();
}

Form1::~Form1()
{
    shutDown();
    // The guard watches the whole application: it must go before the box it guards does.
    delete m_framesGuard;
}

void Form1::createControls()
{
    // Every control is placed once the factor that lets all captions fit is known.
    std::vector<std::function<void(const DesignUnits &)>> placements;
    auto place = [&placements](QWidget *w, int left, int top, int width, int height) {
        placements.push_back([=](const DesignUnits &du) { w->setGeometry(du.rect(left, top, width, height)); });
    };
    auto button = [&](QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h) {
        auto *b = named(new QPushButton(caption, parent), name);
        b->setAutoDefault(false);
        place(b, l, t, w, h);
        return b;
    };
    auto check = [&](QWidget *parent, const char *name, const QString &caption, bool ticked, int l, int t, int w, int h) {
        auto *c = named(new QCheckBox(caption, parent), name);
        c->setChecked(ticked);
        place(c, l, t, w, h);
        return c;
    };
    auto label = [&](QWidget *parent, const char *name, const QString &caption, Qt::Alignment align, int l, int t, int w,
                     int h) {
        auto *c = named(new QLabel(caption, parent), name);
        c->setAlignment(align | Qt::AlignTop);
        c->setWordWrap(true);
        place(c, l, t, w, h);
        return c;
    };
    auto frame = [&](QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h) {
        auto *f = named(new QGroupBox(caption, parent), name);
        place(f, l, t, w, h);
        return f;
    };

    // The status line lies under the design area: the window grows by its height and no more.
    constexpr int statusLineHeight = 270;
    placements.push_back(
        [this](const DesignUnits &du) { setFixedSize(du.px(10035), du.px(8640 + statusLineHeight)); });
    // The layout was designed around an 8-point face. Liberation Sans, as wide as Arial, comes
    // closest of the faces Debian ships and looks the same on every desktop; where a wider face
    // stands in, the design grows as a whole until every caption fits.
    QFont windowFont = font();
    windowFont.setFamilies({QStringLiteral("Liberation Sans")});
    windowFont.setPointSizeF(8.25);
    setFont(windowFont);

    // The series engine owns the source of the pictures, the capture timer and the capture
    // state; the image control shows what it delivers.
    m_engine = new SeriesEngine(this);
    m_engine->setLiveAfterSeries(true); // Stop ticks "Live Picture"
    m_setup = std::make_unique<SeriesSetup>(*m_engine);
    Timer1 = &m_engine->timer();
    CVimage1 = new ImageControl(*m_engine, this);
    CVimage1->setObjectName(QStringLiteral("CVimage1"));
    CVgrabber1 = new GrabberControl(*CVimage1, this);
    CVgrabber1->setObjectName(QStringLiteral("CVgrabber1"));
    CommonDialog1 = new CommonDialog(this);
    CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));
    CommonDialog1->DialogTitle = QStringLiteral("Please Choose a Directory");
    CommonDialog1->FileName = QStringLiteral("Please Choose a Directory");
    Timer1->setInterval(2000);

    FileSetupFrame = frame(this, "FileSetupFrame", QStringLiteral("File Setup"), 0, 120, 9975, 1095);
    CVdisplay1 = named(new DisplayControl(*CVimage1, this), "CVdisplay1");
    place(CVdisplay1, 0, 1320, 7095, 7215);
    StartStop = button(this, "StartStop", QStringLiteral("Start"), 7680, 1560, 1815, 735);
    QFont bold = StartStop->font();
    bold.setPointSize(12);
    bold.setBold(true);
    StartStop->setFont(bold);
    VideoSetupFrame = frame(this, "VideoSetupFrame", QStringLiteral("Video Setup"), 7200, 2640, 2775, 1455);
    ADFrame = frame(this, "ADFrame", QStringLiteral("AD-Card - CIO-DAS08"), 7200, 4200, 2775, 2415);
    OpenImage = button(this, "OpenImage", QStringLiteral("&Open Image"), 7320, 8040, 1215, 495);
    QuitCommand = button(this, "QuitCommand", QStringLiteral("Exit"), 8760, 8040, 1095, 495);

    SetDir = button(FileSetupFrame, "SetDir", QStringLiteral("Set Directory"), 120, 240, 1095, 315);
    SaveText = named(new QLineEdit(QStringLiteral("VideoBasename"), FileSetupFrame), "SaveText", QStringLiteral("Base name"));
    place(SaveText, 1320, 240, 1335, 315);
    SaveText->setCursorPosition(0);
    TimeName = label(FileSetupFrame, "TimeName", QStringLiteral("_0000000msec_000mA"), Qt::AlignLeft, 2670, 285, 3525, 255);
    FileType = named(new QComboBox(FileSetupFrame), "FileType", QStringLiteral("File type"));
    FileType->setEditable(true);
    FileType->setInsertPolicy(QComboBox::NoInsert);
    FileType->addItems({QStringLiteral(".bmp"), QStringLiteral(".tif"), QStringLiteral(".jpg"), QStringLiteral(".mio")});
    FileType->setEditText(QStringLiteral(".bmp"));
    place(FileType, 6600, 240, 735, 315);
    NumberCheck = check(FileSetupFrame, "NumberCheck", QStringLiteral("Add number"), false, 8520, 240, 1335, 255);
    TimeCheck = check(FileSetupFrame, "TimeCheck", QStringLiteral("Add time"), true, 8520, 480, 1335, 255);
    FileLabel = label(FileSetupFrame, "FileLabel", QStringLiteral("Filename to Save"), Qt::AlignLeft, 120, 720, 8415, 255);

    LiveCheck1 = check(VideoSetupFrame, "LiveCheck1", QStringLiteral("Live Picture"), true, 720, 240, 1215, 255);
    Line1 = named(new QFrame(VideoSetupFrame), "Line1");
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    placements.push_back([this](const DesignUnits &du) {
        Line1->setGeometry(du.px(120), du.px(580) - 1, du.px(2640) - du.px(120), 2);
    });
    FrameLabel = label(VideoSetupFrame, "FrameLabel", QStringLiteral("Trigger every"), Qt::AlignRight, 240, 750, 975, 255);
    Frames = named(new QLineEdit(QStringLiteral("500"), VideoSetupFrame), "Frames",
                   QStringLiteral("Capture interval in milliseconds"));
    place(Frames, 1320, 730, 540, 285);
    Label1 = label(VideoSetupFrame, "Label1", QStringLiteral("msec"), Qt::AlignLeft, 1920, 750, 375, 255);
    RangeLabel = label(VideoSetupFrame, "RangeLabel", QStringLiteral("(Possible Range: 50 - 65000 msec)"),
                       Qt::AlignHCenter, 120, 1080, 2535, 255);

    Channel0Frame = frame(ADFrame, "Channel0Frame", QStringLiteral("Channel 0"), 120, 240, 2535, 975);
    Channel1Frame = frame(ADFrame, "Channel1Frame", QStringLiteral("Channel 1"), 120, 1320, 2535, 975);
    Channel0Label = label(Channel0Frame, "Channel0Label", QStringLiteral("IN    : 0 - 10 V OUT: 0 - 212.8 mA"),
                          Qt::AlignLeft, 120, 240, 1335, 495);
    Read0Command = button(Channel0Frame, "Read0Command", QStringLiteral("Read"), 1560, 240, 855, 375);
    Channel0OutLabel = label(Channel0Frame, "Channel0OutLabel", QString(), Qt::AlignHCenter, 120, 720, 1455, 195);
    Channel0Check = check(Channel0Frame, "Channel0Check", QStringLiteral("Add"), true, 1680, 690, 615, 255);
    Channel1Label = label(Channel1Frame, "Channel1Label", QStringLiteral("IN    : 0 - 10 V OUT: 0 - 10 V"),
                          Qt::AlignLeft, 120, 240, 1095, 375);
    Read1Command = button(Channel1Frame, "Read1Command", QStringLiteral("Read"), 1560, 240, 855, 375);
    Channel1OutLabel = label(Channel1Frame, "Channel1OutLabel", QString(), Qt::AlignHCenter, 120, 720, 1455, 195);
    Channel1Check = check(Channel1Frame, "Channel1Check", QStringLiteral("Add"), true, 1680, 690, 615, 255);
    StatusLabel = named(new StatusLine(*m_engine, this), "StatusLabel", QStringLiteral("Series status"));
    place(StatusLabel, 120, 8640, 9795, statusLineHeight);

    // The keyboard visits the controls that can take the focus in this order.
    const QList<QWidget *> tabOrder = {OpenImage,  SaveText, FileType,    Frames,       StartStop,
                                       LiveCheck1, SetDir,   QuitCommand, Read0Command, Read1Command,
                                       TimeCheck,  NumberCheck, Channel0Check, Channel1Check};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    placeAtFittingScale(*this, placements);
}

void Form1::startUp(const QString &driverPath, std::unique_ptr<AnalogCard> card)
{
    CaptureState &s = state();
    s.BoardNumber = 0;
    m_setup->open(driverPath, std::move(card));
    SetupUI();
    s.SaveDirectory = defaultSaveDirectory();
    s.BaseName = QStringLiteral("VideoBasename");
    s.FileExtension = QStringLiteral(".bmp");
    s.Recording = RecordingState::Idle;
    Timer1->setInterval(Frames->text().toInt());
    s.FrameCounter = 1;
    s.ElapsedMsec = 0;
    s.LastBaseName = SaveText->text();
    CVdisplay1->setScaleMode(DisplayControl::FitKeepAspect);
    CVdisplay1->setInterpolation(DisplayControl::Smooth);
    CVdisplay1->setShowSelection(true);
    CVimage1->setLive(LiveCheck1->isChecked());
}

void Form1::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // No picture is taken once the window is going, but the pictures of the last series are
    // written to the disk first, for at most SeriesEngine::kShutDownWaitMs in all; live
    // acquisition ends with its thread.
    m_engine->shutDown();
    CVimage1->setLive(false);
}

void Form1::closeEvent(QCloseEvent *event)
{
    shutDown();
    event->accept();
}

void Form1::SetupUI()
{
    CVdisplay1->setImageHandle(CVimage1->imageHandle());
    CVgrabber1->setImageHandle(CVimage1->imageHandle());
    LiveCheck1->setEnabled(CVimage1->canAcquireLive());
    if (CVimage1->imageHandle() != 0) {
        const int w = CVimage1->imageWidth();
        const int h = CVimage1->imageHeight();
        CVdisplay1->setSelectedArea(0, 0, w - 1, 0, 0, h - 1);
    }
}

void Form1::LiveCheck1_Click()
{
    CVimage1->setLive(LiveCheck1->isChecked());
}

void Form1::OpenImage_Click()
{
    const QString start = QFileInfo(CVimage1->fileName()).absolutePath();
    const QString path = askImageOrDriverFile(this, start);
    if (path.isEmpty())
        return;
    CVimage1->setFileName(path);
    SetupUI();
    // The tick of "Live Picture" is the record of whether live is wanted; a newly opened
    // camera follows it.
    if (LiveCheck1->isChecked())
        CVimage1->setLive(true);
}
