#include "ui/form1.h"

#include "recording/interval.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>

// A script's requests. Each goes through the control a person would use, so that the window
// shows it exactly as if a person had done it, and is refused where the window refuses, with
// the window's own text; the text is returned instead of shown.

QString Form1::requestStart()
{
    if (m_engine->isRecording())
        return QLatin1String(kSeriesRunningMessage);
    // A person's click on Start first takes the focus out of an interval being typed, which
    // checks the box.
    if (focusWidget() == Frames) {
        const IntervalCheck check = checkInterval(Frames->text());
        if (check.outcome != IntervalCheck::Accepted)
            return QLatin1String(kIntervalMessage);
        Timer1->setInterval(check.milliseconds);
    }
    return startSeries();
}

QString Form1::requestStop()
{
    if (m_engine->isRecording())
        m_engine->stop();
    return {};
}

// The directory dialog reaches only directories that exist, and names them from the root.
QString Form1::requestDirectory(const QString &directory)
{
    if (!FileSetupFrame->isEnabled())
        return QLatin1String(kSetupLockedMessage);
    if (!QDir::isAbsolutePath(directory))
        return QStringLiteral("The directory must be given from the root: %1").arg(directory);
    if (!QFileInfo(directory).isDir())
        return QStringLiteral("There is no directory %1").arg(directory);
    const QString clean = QDir::cleanPath(directory);
    state().SaveDirectory = clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
    ComposeFileName();
    return {};
}

// The box takes any text a person can type, which holds no control characters.
QString Form1::requestBaseName(const QString &baseName)
{
    if (!FileSetupFrame->isEnabled())
        return QLatin1String(kSetupLockedMessage);
    for (const QChar c : baseName) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("The base name holds the control character U+%1, which cannot be typed into it")
                .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    SaveText->setText(baseName);
    return {};
}

// As a pick from the list: only its items set the file type.
QString Form1::requestFileType(const QString &fileType)
{
    if (!FileSetupFrame->isEnabled())
        return QLatin1String(kSetupLockedMessage);
    const int item = FileType->findText(fileType, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item < 0) {
        QStringList items;
        for (int i = 0; i < FileType->count(); ++i)
            items << FileType->itemText(i);
        return QStringLiteral("Unknown file type \"%1\": use %2").arg(fileType, items.join(QStringLiteral(", ")));
    }
    FileType->setCurrentIndex(item);
    FileType_Click();
    return {};
}

// As a number typed into the box and checked when the focus leaves it; a refused number leaves
// the box as it was, since a script's mistake is not the person's to see.
QString Form1::requestInterval(uint milliseconds)
{
    if (!VideoSetupFrame->isEnabled())
        return QLatin1String(kSetupLockedMessage);
    const QString text = QString::number(milliseconds);
    const IntervalCheck check = checkInterval(text, QLocale::c());
    if (check.outcome != IntervalCheck::Accepted)
        return QLatin1String(kIntervalMessage);
    Frames->setText(text);
    Timer1->setInterval(check.milliseconds);
    return {};
}

// As clicks on the four check boxes, each of which composes the name afresh.
QString Form1::requestOptions(const QStringList &options)
{
    if (!FileSetupFrame->isEnabled() || !ADFrame->isEnabled())
        return QLatin1String(kSetupLockedMessage);
    const std::optional<NameOptions> chosen = optionsFromNames(options);
    if (!chosen)
        return QStringLiteral("The options are number, time, channel0 and channel1, not \"%1\"")
            .arg(options.join(QLatin1Char(',')));
    NumberCheck->setChecked(chosen->number);
    TimeCheck->setChecked(chosen->time);
    Channel0Check->setChecked(chosen->channel0);
    Channel1Check->setChecked(chosen->channel1);
    return {};
}
