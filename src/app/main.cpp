#include "app/command_line.h"
#include "app/open_display.h"
#include "app/paths.h"
#include "ui/form1.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Pictures in a row"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(PIR_APP_ID));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.action == CommandLine::Action::Exit)
        return printAndExit(commandLine);

    if (commandLine.action == CommandLine::Action::CheckDriver) {
        QCoreApplication app(argc, argv);
        return checkDriver(commandLine.driverPath.isEmpty() ? defaultDriverPath() : commandLine.driverPath);
    }

    const std::unique_ptr<QApplication> app = openDisplay(argc, argv);
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(PIR_APP_ID)));
    Form1 window(commandLine.driverPath.isEmpty() ? defaultDriverPath() : commandLine.driverPath);
    window.show();
    return app->exec();
}
