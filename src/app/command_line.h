#pragma once

#include <QString>
#include <QStringList>

// The program's name on the command line, in its help and in its messages.
inline constexpr char kProgramName[] = "pictures-in-a-row";

// Exit codes besides 0: the command line was wrong; no display could be opened (or, for
// --check, the driver gave no picture).
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What the command line asks for. It is read before any Qt application object exists, so that
// --help and --version work without a display.
struct CommandLine
{
    enum class Action {
        ShowWindow,  // start the window with `driverPath`
        CheckDriver, // open `driverPath`, take one picture, report, exit
        Record,      // `record`: a series without a window, with `commandArguments`
        Cameras,     // `cameras`: list the cameras, with `commandArguments`
        Exit,        // print `output` and leave with `exitCode`
    };

    Action action = Action::ShowWindow;
    QString driverPath; // absolute, from --driver; empty for the default driver
    QStringList commandArguments; // the words after the command's name
    int exitCode = 0;
    QString output; // for Exit: to standard output when exitCode is 0, else to standard error
};

// `arguments` as the program got them, the program's own path first.
CommandLine parseCommandLine(const QStringList &arguments);

// Prints a CommandLine::Exit's output where it belongs and returns its exit code.
int printAndExit(const CommandLine &commandLine);

// Opens `driverPath` as the window would at start-up and prints one line on what it delivered.
// Returns 0 when it gave a picture, kExitFailure otherwise. Needs a QCoreApplication.
int checkDriver(const QString &driverPath);
