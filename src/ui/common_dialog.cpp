#include "ui/common_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>

namespace {

// Qt's dialog leaves in its file-name field whatever the user moved with: a folder's name or
// path typed and confirmed with Enter, or "..". Confirming that again moves once more, and a
// path of the folder shown keeps "Open" disabled. The preset name is put back whenever the
// dialog shows another folder, so that the user can always confirm it where they arrived.
void keepNameWhileMoving(QFileDialog &dialog, const QString &name)
{
    auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    auto *folders = dialog.findChild<QFileSystemModel *>();
    if (!field || !folders || name.isEmpty())
        return;
    QObject::connect(folders, &QFileSystemModel::rootPathChanged, field, [field, name] { field->setText(name); });
}

} // namespace

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
    keepNameWhileMoving(dialog, preset.fileName());
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
