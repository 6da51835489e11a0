#pragma once

#include <QString>
#include <QStringList>

// `pictures-in-a-row cameras`: the cameras of this machine, numbered, or with --driver-file N a
// driver file that opens the N-th of them.
struct CamerasReport
{
    int exitCode = 0;
    QString output; // for standard output
    QString error;  // for standard error
};

// `arguments` are the words after "cameras".
CamerasReport camerasReport(const QStringList &arguments);

// Prints the report and returns its exit status. Needs a QCoreApplication, not a display.
int runCamerasCommand(const QStringList &arguments);
