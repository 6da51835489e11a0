#include "app/cameras_command.h"

#include "app/command_line.h"
#include "cameras/camera.h"
#include "cameras/v4l2/v4l2_camera.h"
#if HAVE_ARAVIS
#include "cameras/genicam/genicam_camera.h"
#endif

#include <QCommandLineParser>

#include <cstdio>

namespace {

CamerasReport refuse(const QString &message)
{
    return CamerasReport{kExitUsage, QString(), message.endsWith(QLatin1Char('\n')) ? message : message + u'\n'};
}

// "1  /dev/video0  UVC Camera, serial 1234 (v4l2)" and its formats beneath.
QString describe(int number, const FoundCamera &camera)
{
    const CameraIdentity &id = camera.identity;
    QString line = QStringLiteral("%1  %2").arg(number).arg(id.device);
    if (!id.model.trimmed().isEmpty())
        line += QStringLiteral("  ") + id.model.trimmed();
    if (!id.serial.isEmpty())
        line += QStringLiteral(", serial ") + id.serial;
    line += QStringLiteral(" (%1)").arg(camera.note.isEmpty() ? id.source : id.source + QStringLiteral(", ") + camera.note);
    QString text = line + u'\n';
    for (const QString &format : camera.formats)
        text += QStringLiteral("     ") + format + u'\n';
    return text;
}

} // namespace

CamerasReport camerasReport(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the cameras of this machine, numbered: the V4L2 capture devices (USB cameras and frame grabbers)\n"
        "with their pixel formats and sizes and, with --genicam, the GenICam cameras too.\n"
        "With --driver-file N it prints a driver file that opens the N-th camera listed (numbered as by\n"
        "the same options), for \"Open Image\" or --driver."));
    const QCommandLineOption genicam(QStringLiteral("genicam"),
                                     QStringLiteral("Also lists GenICam (GigE Vision and USB3 Vision) cameras. Their "
                                                    "discovery broadcasts on every network this machine is on."));
    const QCommandLineOption driverFile(QStringLiteral("driver-file"),
                                        QStringLiteral("Prints a driver file that opens the N-th camera listed, "
                                                       "instead of the list."),
                                        QStringLiteral("N"));
    parser.addOptions({genicam, driverFile});
    if (const CommandWords words = parseCommandWords(parser, "cameras", arguments); words.exitCode)
        return *words.exitCode == 0 ? CamerasReport{0, words.output, QString()} : refuse(words.output);

    QList<FoundCamera> cameras = V4l2Camera::listCameras();
    if (parser.isSet(genicam)) {
#if HAVE_ARAVIS
        cameras += GenicamCamera::listCameras();
#else
        return refuse(QStringLiteral("This build cannot use GenICam cameras (it was built without Aravis)."));
#endif
    }
    if (parser.isSet(driverFile)) {
        bool ok = false;
        const int n = parser.value(driverFile).toInt(&ok);
        if (cameras.isEmpty())
            return refuse(QStringLiteral("No camera is listed, so there is no driver file to print."));
        if (!ok || n < 1 || n > cameras.size())
            return refuse(QStringLiteral("--driver-file takes the number of a camera listed, from 1 to %1, not \"%2\"")
                              .arg(cameras.size())
                              .arg(parser.value(driverFile)));
        return CamerasReport{0, cameras[n - 1].driverFile, QString()};
    }
    CamerasReport report;
    for (int i = 0; i < cameras.size(); ++i)
        report.output += describe(i + 1, cameras[i]);
    if (cameras.isEmpty())
        report.output = parser.isSet(genicam) ? QStringLiteral("No camera found.\n")
                                              : QStringLiteral("No V4L2 camera found (--genicam also looks for "
                                                               "GenICam cameras on the network).\n");
    return report;
}

int runCamerasCommand(const QStringList &arguments)
{
    const CamerasReport report = camerasReport(arguments);
    std::fputs(report.output.toLocal8Bit().constData(), stdout);
    std::fputs(report.error.toLocal8Bit().constData(), stderr);
    return report.exitCode;
}
