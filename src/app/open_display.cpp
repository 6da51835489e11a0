#include "app/open_display.h"

#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

// What Qt says while it opens the display is held back: when no display can be opened it ends
// with a fatal message, and one line of ours replaces all of it. Qt's own threads may speak too.
std::mutex heldMutex;
std::vector<QString> held;

void holdWhileOpening(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        std::fprintf(stderr,
                     "%s: no display is available, so the window cannot be shown; "
                     "to use a virtual one, run: xvfb-run -a %s\n",
                     kProgramName, kProgramName);
        std::fflush(stderr);
        std::_Exit(kExitFailure);
    }
    const std::lock_guard<std::mutex> lock(heldMutex);
    held.push_back(qFormatLogMessage(type, context, message));
    if (type == QtFatalMsg) {
        for (const QString &line : held)
            std::fprintf(stderr, "%s\n", qPrintable(line));
        std::abort();
    }
}

} // namespace

std::unique_ptr<QApplication> openDisplay(int &argc, char **argv)
{
    const QtMessageHandler previous = qInstallMessageHandler(holdWhileOpening);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    const std::lock_guard<std::mutex> lock(heldMutex);
    for (const QString &line : held)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    held.clear();
    return app;
}
