#pragma once

#include "analog/analog_card.h"
#include "recording/capture_state.h"
#include "recording/series.h"
#include "recording/series_control.h"
#include "recording/series_engine.h"
#include "recording/series_setup.h"
#include "ui/focus_guard.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CommonDialog;
class DisplayControl;
class GrabberControl;
class ImageControl;
class StatusLine;

// The main window, "Pictures in a row". Its controls carry the system's names; handlers
// read controls, call the plain logic of the core library and write the controls back. A
// script's requests (SeriesControl) go through the same controls and checks.
class Form1 : public QWidget, public SeriesControl
{
    Q_OBJECT
public:
    // `driverPath` is the acquisition driver loaded at start-up; `card` the analog card
    // (the window takes it over; null chooses the card that start-up finds).
    explicit Form1(const QString &driverPath, std::unique_ptr<AnalogCard> card = nullptr, QWidget *parent = nullptr);
    ~Form1() override;

    CaptureState &state() { return m_engine->state(); }
    AnalogCard &card() { return m_engine->card(); }
    SeriesEngine &engine() override { return *m_engine; }

    // A script's requests, each answered as the window's own controls answer it (form1_remote.cpp).
    QString requestStart() override;
    QString requestStop() override;
    bool offersSetup() const override { return true; }
    QString requestDirectory(const QString &directory) override;
    QString requestBaseName(const QString &baseName) override;
    QString requestFileType(const QString &fileType) override;
    QString requestInterval(uint milliseconds) override;
    QString requestOptions(const QStringList &options) override;

    // Window operations. The capture step runs on the series' own thread (SeriesEngine).
    void SetupUI();
    void ComposeFileName();

    // The controls, by their names.
    QGroupBox *FileSetupFrame = nullptr;
    DisplayControl *CVdisplay1 = nullptr;
    QPushButton *StartStop = nullptr;
    QGroupBox *VideoSetupFrame = nullptr;
    QGroupBox *ADFrame = nullptr;
    QPushButton *OpenImage = nullptr;
    QPushButton *QuitCommand = nullptr;
    CommonDialog *CommonDialog1 = nullptr;
    ImageControl *CVimage1 = nullptr;
    CaptureTimer *Timer1 = nullptr;
    GrabberControl *CVgrabber1 = nullptr;
    QPushButton *SetDir = nullptr;
    QLineEdit *SaveText = nullptr;
    QLabel *TimeName = nullptr;
    QComboBox *FileType = nullptr;
    QCheckBox *NumberCheck = nullptr;
    QCheckBox *TimeCheck = nullptr;
    QLabel *FileLabel = nullptr;
    QCheckBox *LiveCheck1 = nullptr;
    QFrame *Line1 = nullptr;
    QLabel *FrameLabel = nullptr;
    QLineEdit *Frames = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *RangeLabel = nullptr;
    QGroupBox *Channel0Frame = nullptr;
    QGroupBox *Channel1Frame = nullptr;
    QLabel *Channel0Label = nullptr;
    QPushButton *Read0Command = nullptr;
    QLabel *Channel0OutLabel = nullptr;
    QCheckBox *Channel0Check = nullptr;
    QLabel *Channel1Label = nullptr;
    QPushButton *Read1Command = nullptr;
    QLabel *Channel1OutLabel = nullptr;
    QCheckBox *Channel1Check = nullptr;
    // Under the design area: how the series goes, and after it a summary.
    StatusLine *StatusLabel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void startUp(const QString &driverPath, std::unique_ptr<AnalogCard> card);
    void shutDown();

    // Live display (form1.cpp).
    void LiveCheck1_Click();
    void OpenImage_Click();

    // File naming and analog readings (form1_naming.cpp).
    void connectNamingHandlers();
    NameOptions nameOptions() const;
    void Read0Command_Click();
    void Read1Command_Click();
    void SetDir_Click();
    void SaveText_Change();
    void FileType_Click();

    // Series recording (form1_recording.cpp).
    void connectRecordingHandlers();
    void StartStop_Click();
    QString startSeries();
    void lockForSeries();
    void seriesStopped(SeriesEvent why, const QString &message);
    FocusGuard::Verdict Frames_Validate();

    SeriesEngine *m_engine = nullptr; // a child: the series, its timer and the capture state
    std::unique_ptr<SeriesSetup> m_setup;
    bool m_shutDown = false;
    FocusGuard *m_framesGuard = nullptr;
};
