#pragma once

#include <QObject>
#include <QString>

class QWidget;

// The common dialog control: a file-open dialog with a title and a preset file name.
// Any name may be confirmed, also one that does not exist, so that the user can accept the
// preset name in the wanted folder. Qt's own dialog is used, not the desktop's, so that it
// looks the same everywhere and can be driven in tests.
class CommonDialog : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    QString DialogTitle;
    QString FileName;  // preset before, full path of the confirmed choice after
    QString FileTitle; // the confirmed file's name without its directory

    // Shows the dialog; true when confirmed. A cancel leaves FileName and FileTitle as they were.
    bool ShowOpen(QWidget *parent);
};

// Asks for a picture or an acquisition driver file, for "Open Image"; empty when cancelled.
QString askImageOrDriverFile(QWidget *parent, const QString &startDirectory);
