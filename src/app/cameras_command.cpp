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

// The keys every source takes, which no camera can tell: left for the user to fill in.
const char kCommonSettings[] =
    "\n# Any source\n"
    "# pixel-size-um: the size of one pixel in the sample plane, after the optics, in micrometres;\n"
    "# without it the pictures claim no pixel size\n"
    "# pixel-size-um = 6.5\n"
    "# channel-name: what the pictures' OME-XML calls their channel; the camera's model without it\n"
    "# channel-name = GFP\n";

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

// The driver file that opens a listed camera, with a line for each of its settings. A GenICam
// camera is asked at its address, where it has one, so that no second discovery is needed.
CamerasReport settingsReport(const FoundCamera &camera)
{
    QString lines;
    Status asked = Status::failure(QStringLiteral("this build cannot use GenICam cameras"));
    if (camera.identity.source == u"v4l2") {
        asked = V4l2Camera::describeSettings(camera.identity.device, lines);
    } else {
#if HAVE_ARAVIS
        asked = GenicamCamera::describeSettings(camera.identity.device, lines);
#endif
    }
    if (!asked)
        return CamerasReport{kExitFailure, QString(), QStringLiteral("Cannot ask the camera: %1\n").arg(asked.reason())};
    return CamerasReport{0,
                         camera.driverFile +
                             QStringLiteral("\n# Every setting of this camera at its current value: keep the lines to "
                                            "fix and delete\n# the others (a line starting with # is not read).\n") +
                             lines + QLatin1String(kCommonSettings),
                         QString()};
}

// The camera that --driver-file N or --settings N names, or the refusal.
const FoundCamera *numbered(const QList<FoundCamera> &cameras, const QString &option, const QString &value,
                            CamerasReport &refusal)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (cameras.isEmpty()) {
        refusal = refuse(QStringLiteral("No camera is listed, so there is none to number."));
        return nullptr;
    }
    if (!ok || n < 1 || n > cameras.size()) {
        refusal = refuse(QStringLiteral("%1 takes the number of a camera listed, from 1 to %2, not \"%3\"")
                             .arg(option)
                             .arg(cameras.size())
                             .arg(value));
        return nullptr;
    }
    return &cameras[n - 1];
}

} // namespace

CamerasReport camerasReport(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the cameras of this machine, numbered: the V4L2 capture devices (USB cameras and frame grabbers)\n"
        "with their pixel formats and sizes and, with --genicam, the GenICam cameras too.\n"
        "With --driver-file N it prints a driver file that opens the N-th camera listed (numbered as by\n"
        "the same options), for \"Open Image\" or --driver. With --settings N it prints one that also\n"
        "holds every setting of that camera at its current value, with what each can be set to."));
    const QCommandLineOption genicam(QStringLiteral("genicam"),
                                     QStringLiteral("Also lists GenICam (GigE Vision and USB3 Vision) cameras. Their "
                                                    "discovery broadcasts on every network this machine is on."));
    const QCommandLineOption driverFile(QStringLiteral("driver-file"),
                                        QStringLiteral("Prints a driver file that opens the N-th camera listed, "
                                                       "instead of the list."),
                                        QStringLiteral("N"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Prints everything the N-th camera listed can be set to, as a "
                                                     "driver file at its current values."),
                                      QStringLiteral("N"));
    parser.addOptions({genicam, driverFile, settings});
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
    if (parser.isSet(driverFile) && parser.isSet(settings))
        return refuse(QStringLiteral("--driver-file and --settings print one driver file each: give one of them."));
    for (const QCommandLineOption *option : {&driverFile, &settings}) {
        if (!parser.isSet(*option))
            continue;
        CamerasReport refusal;
        const FoundCamera *camera =
            numbered(cameras, QStringLiteral("--") + option->names().constFirst(), parser.value(*option), refusal);
        if (!camera)
            return refusal;
        return option == &driverFile ? CamerasReport{0, camera->driverFile, QString()} : settingsReport(*camera);
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
