#include "app/paths.h"
#include "ui/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictures in a row"));
    QApplication::setApplicationVersion(QStringLiteral(PIR_VERSION));
    Form1 window(defaultDriverPath());
    window.show();
    return app.exec();
}
