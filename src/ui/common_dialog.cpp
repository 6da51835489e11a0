#include "ui/common_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

bool CommonDialog::ShowOpen(QWidget *parent)
{
    QFileDialog dialog(parent, DialogTitle);
    dialog.setObjectName(QStringLiteral("CommonDialog1Window"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QFileInfo preset(FileName);
    if (preset.isAbsolute())
        dialog.setDirectory(preset.absolutePath());
    dialog.selectFile(preset.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = dialog.selectedFiles().constFirst();
    FileTitle = QFileInfo(FileName).fileName();
    return true;
}

QString askImageOrDriverFile(QWidget *parent, const QString &startDirectory)
{
    QFileDialog dialog(parent, QStringLiteral("Open Image"), startDirectory,
                       QStringLiteral("Pictures and drivers (*.bmp *.tif *.tiff *.jpg *.jpeg *.png *.mio *.vin);;"
                                      "Pictures (*.bmp *.tif *.tiff *.jpg *.jpeg *.png *.mio);;"
                                      "Acquisition drivers (*.vin);;All files (*)"));
    dialog.setObjectName(QStringLiteral("OpenImageWindow"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
