#pragma once

#include <QStringList>

// `pictures-in-a-row control`: drives and watches the series of the window, or of a `record` by
// its process id, over the session bus, as a shell script's tool. `arguments` are the words
// after "control". Exit status: 0 done, 1 refused (the window's message on standard error),
// 2 wrong usage, 3 nothing to talk to. Runs on a QCoreApplication: it needs no display.
int runControlCommand(const QStringList &arguments);
