#include "app/cameras_command.h"
#include "app/command_line.h"
#include "app/control_command.h"
#include "app/open_display.h"
#include "recording/paths.h"
#include "app/record_command.h"
#include "recording/disk_sync.h"
#include "remote/bus_names.h"
#include "remote/remote_control.h"
#include "ui/form1.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

namespace {

// A writer or a sync of a series may still be held up by a disk that hangs once its wait is
// over: the process then ends without destroying its globals, which such a thread may still use.
int leaving(int code)
{
    if (OutlivingThread::running() > 0) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

} // namespace

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

    switch (commandLine.action) {
    case CommandLine::Action::CheckDriver: {
        QCoreApplication app(argc, argv);
        return checkDriver(commandLine.driverPath.isEmpty() ? defaultDriverPath() : commandLine.driverPath);
    }
    case CommandLine::Action::Record: {
        // No display: a series recorded over SSH or from a script never opens a window.
        QCoreApplication app(argc, argv);
        return leaving(runRecordCommand(commandLine.commandArguments));
    }
    case CommandLine::Action::Cameras: {
        QCoreApplication app(argc, argv);
        return runCamerasCommand(commandLine.commandArguments);
    }
    case CommandLine::Action::Control: {
        QCoreApplication app(argc, argv);
        return runControlCommand(commandLine.commandArguments);
    }
    case CommandLine::Action::ShowWindow:
    case CommandLine::Action::Exit:
        break;
    }

    const std::unique_ptr<QApplication> app = openDisplay(argc, argv);
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(PIR_APP_ID)));
    int code = 0;
    {
        Form1 window(commandLine.driverPath.isEmpty() ? defaultDriverPath() : commandLine.driverPath);
        // Scripts of this user reach the window's series on the session bus, unless another window has it.
        const RemoteControl remote(window, windowServiceName());
        window.engine().setRemoteControlNote(remote.note());
        if (remote.nameTaken())
            std::fprintf(stderr, "%s: another window has %s on the session bus; scripts cannot reach this one.\n",
                         kProgramName, qPrintable(windowServiceName()));
        window.show();
        code = app->exec();
    }
    return leaving(code);
}
