#include "ui/form1.h"

#include "analog/analog_card.h"
#include "analog/card_factory.h"
#include "analog/channel_reading.h"
#include "naming/file_name.h"
#include "ui/common_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

// File-name composition, output settings and the analog channel readings.

void Form1::connectNamingHandlers()
{
    if (!m_card)
        m_card = createAnalogCard(m_state.BoardNumber);
    // Readings that no card delivered must not pass for measurements.
    if (m_card->isSimulated())
        ADFrame->setTitle(QStringLiteral("AD-Card - CIO-DAS08 (simulated)"));

    // These labels show names and readings exactly as they are saved, never as markup.
    for (QLabel *label : {TimeName, FileLabel, Channel0OutLabel, Channel1OutLabel})
        label->setTextFormat(Qt::PlainText);

    connect(SetDir, &QPushButton::clicked, this, &Form1::SetDir_Click);
    connect(SaveText, &QLineEdit::textChanged, this, &Form1::SaveText_Change);
    // Only a pick from the list sets the extension; typing into the box changes nothing.
    connect(FileType, &QComboBox::activated, this, &Form1::FileType_Click);
    for (QCheckBox *option : {NumberCheck, TimeCheck, Channel0Check, Channel1Check})
        connect(option, &QCheckBox::toggled, this, &Form1::ComposeFileName);
    connect(Read0Command, &QPushButton::clicked, this, &Form1::Read0Command_Click);
    connect(Read1Command, &QPushButton::clicked, this, &Form1::Read1Command_Click);
}

void Form1::ComposeFileName()
{
    TimeName->clear();
    m_state.AnalogSuffix.clear();
    TimeName->setText(numberAndTimePiece(NumberCheck->isChecked(), TimeCheck->isChecked(), m_state.FrameCounter,
                                         m_state.ElapsedMsec, QLocale()));
    if (Channel0Check->isChecked())
        Read0Command_Click();
    if (Channel1Check->isChecked())
        Read1Command_Click();
    m_state.FullFileName = fullFileName(m_state.SaveDirectory, m_state.BaseName, TimeName->text(),
                                        m_state.AnalogSuffix, m_state.FileExtension);
    FileLabel->setText(m_state.FullFileName);
}

void Form1::Read0Command_Click()
{
    Channel0OutLabel->setText(takeChannelReading(m_state, *m_card, 0, QLocale()));
}

void Form1::Read1Command_Click()
{
    Channel1OutLabel->setText(takeChannelReading(m_state, *m_card, 1, QLocale()));
}

void Form1::SetDir_Click()
{
    const bool accepted = CommonDialog1->ShowOpen(this);
    m_state.SaveDirectory =
        directoryAfterDialog(m_state.SaveDirectory, accepted, CommonDialog1->FileName, CommonDialog1->FileTitle);
    ComposeFileName();
}

void Form1::SaveText_Change()
{
    m_state.BaseName = SaveText->text();
    ComposeFileName();
}

void Form1::FileType_Click()
{
    m_state.FileExtension = FileType->currentText();
    ComposeFileName();
}
