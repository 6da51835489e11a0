#include "ui/form1.h"

#include "analog/analog_card.h"
#include "naming/file_name.h"
#include "ui/common_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// File-name composition, output settings and the analog channel readings.

void Form1::connectNamingHandlers()
{
    // Readings that no card delivered must not pass for measurements.
    if (m_setup->cardIsSimulated())
        ADFrame->setTitle(QStringLiteral("AD-Card - CIO-DAS08 (simulated)"));

    // These labels show names and readings exactly as they are saved, never as markup.
    for (QLabel *label : {TimeName, FileLabel, Channel0OutLabel, Channel1OutLabel})
        label->setTextFormat(Qt::PlainText);

    connect(m_engine, &SeriesEngine::channelRead, this, [this](int channel, const QString &text) {
        (channel == 0 ? Channel0OutLabel : Channel1OutLabel)->setText(text);
    });
    connect(m_engine, &SeriesEngine::composed, this, [this](const QString &numberAndTime, const QString &name) {
        TimeName->setText(numberAndTime);
        FileLabel->setText(name);
    });
    connect(SetDir, &QPushButton::clicked, this, &Form1::SetDir_Click);
    connect(SaveText, &QLineEdit::textChanged, this, &Form1::SaveText_Change);
    // Only a pick from the list sets the extension; typing into the box changes nothing.
    connect(FileType, &QComboBox::activated, this, &Form1::FileType_Click);
    for (QCheckBox *option : {NumberCheck, TimeCheck, Channel0Check, Channel1Check})
        connect(option, &QCheckBox::toggled, this, &Form1::ComposeFileName);
    connect(Read0Command, &QPushButton::clicked, this, &Form1::Read0Command_Click);
    connect(Read1Command, &QPushButton::clicked, this, &Form1::Read1Command_Click);
}

NameOptions Form1::nameOptions() const
{
    return {NumberCheck->isChecked(), TimeCheck->isChecked(), Channel0Check->isChecked(), Channel1Check->isChecked()};
}

// The check boxes are the record of the options: composition reads them afresh each time.
void Form1::ComposeFileName()
{
    TimeName->clear();
    m_engine->setOptions(nameOptions());
    m_engine->compose();
}

void Form1::Read0Command_Click()
{
    m_engine->readChannel(0);
}

void Form1::Read1Command_Click()
{
    m_engine->readChannel(1);
}

void Form1::SetDir_Click()
{
    const bool accepted = CommonDialog1->ShowOpen(this);
    state().SaveDirectory =
        directoryAfterDialog(state().SaveDirectory, accepted, CommonDialog1->FileName, CommonDialog1->FileTitle);
    ComposeFileName();
}

void Form1::SaveText_Change()
{
    state().BaseName = SaveText->text();
    ComposeFileName();
}

void Form1::FileType_Click()
{
    state().FileExtension = FileType->currentText();
    ComposeFileName();
}
