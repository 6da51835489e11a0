#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

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
        Control,     // `control`: drive a series over the session bus, with `commandArguments`
        Exit,        // print `output` and leave with `exitCode`
    };

    Action action = Action::ShowWindow;
    QString driverPath; // absolute, from --driver; empty for the default driver
    QStringList commandArguments; // the words after the command's name
    int exitCode = 0;
    QString output; // for Exit: to standard output when exitCode is 0, else to standard error
};

// How a command (`record`, `cameras`) takes the words after its name, with a -h/--help of its
// own added to `parser`: empty to go on, or what to print and the exit status, the usage on
// --help (0) or the error and the usage on a word the command does not take (kExitUsage).
struct CommandWords
{
    std::optional<int> exitCode;
    QString output; // for standard output with 0, else for standard error
};
CommandWords parseCommandWords(QCommandLineParser &parser, const char *command, const QStringList &arguments);

// `arguments` as the program got them, the program's own path first.
CommandLine parseCommandLine(const QStringList &arguments);

// Prints a CommandLine::Exit's output where it belongs and returns its exit code.
int printAndExit(const CommandLine &commandLine);

// Opens `driverPath` as the window would at start-up and prints one line on what it delivered.
// Returns 0 when it gave a picture, kExitFailure otherwise. Needs a QCoreApplication.
int checkDriver(const QString &driverPath);
