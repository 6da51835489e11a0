#include "app/paths.h"
#include "app/record_command.h"
#include "ui/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "record") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Pictures in a row"));
        QCoreApplication::setApplicationVersion(QStringLiteral(PIR_VERSION));
        return runRecordCommand(QCoreApplication::arguments().mid(2));
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictures in a row"));
    QApplication::setApplicationVersion(QStringLiteral(PIR_VERSION));
    Form1 window(defaultDriverPath());
    window.show();
    return app.exec();
}
