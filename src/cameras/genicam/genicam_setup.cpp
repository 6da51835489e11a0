// Opening a GenICam camera and applying the driver file's settings to it.

#include "cameras/genicam/genicam_camera.h"

#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/pixel_formats.h"
#include "cameras/genicam/genicam_error.h"
#include "cameras/genicam/genicam_features.h"

#include <arv.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace {

constexpr quint16 kGvcpPort = 3956;

// The local address the kernel would send from to reach `device`: a GigE Vision camera
// given by address is opened directly, without a discovery broadcast on every interface.
QString localAddressTowards(const QString &device)
{
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(kGvcpPort);
    if (inet_pton(AF_INET, device.toLatin1().constData(), &remote.sin_addr) != 1)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return {};
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool found = ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0;
    ::close(fd);
    char text[INET_ADDRSTRLEN] = {};
    if (!found || !inet_ntop(AF_INET, &local.sin_addr, text, sizeof text))
        return {};
    return QString::fromLatin1(text);
}

bool isIpv4Address(const QString &text)
{
    in_addr address{};
    return inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1;
}

// Finds a discovered camera by id, serial number, physical id or address; empty: the first.
QString findDeviceId(const QString &name, QString &error)
{
    arv_update_device_list();
    const unsigned count = arv_get_n_devices();
    QStringList seen;
    for (unsigned i = 0; i < count; ++i) {
        const QString id = QString::fromUtf8(arv_get_device_id(i));
        if (name.isEmpty())
            return id;
        for (const char *alias : {arv_get_device_id(i), arv_get_device_serial_nbr(i), arv_get_device_physical_id(i),
                                  arv_get_device_address(i)}) {
            if (alias && name == QString::fromUtf8(alias))
                return id;
        }
        seen << id;
    }
    if (count == 0)
        error = QStringLiteral("no GenICam camera found");
    else
        error = QStringLiteral("no GenICam camera \"%1\"; found %2").arg(name, seen.join(QStringLiteral(", ")));
    return {};
}

// The network address of a GigE Vision camera; empty for other transports.
QString deviceAddress(ArvCamera *camera)
{
    if (!arv_camera_is_gv_device(camera))
        return {};
    GSocketAddress *address = arv_gv_device_get_device_address(ARV_GV_DEVICE(arv_camera_get_device(camera)));
    if (!address || !G_IS_INET_SOCKET_ADDRESS(address))
        return {};
    gchar *text = g_inet_address_to_string(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address)));
    const QString result = QString::fromUtf8(text);
    g_free(text);
    return result;
}

} // namespace

QList<FoundCamera> GenicamCamera::listCameras()
{
    QList<FoundCamera> found;
    arv_update_device_list();
    for (unsigned i = 0; i < arv_get_n_devices(); ++i) {
        auto text = [](const char *value) { return value ? QString::fromUtf8(value) : QString(); };
        FoundCamera camera;
        const QString id = text(arv_get_device_id(i));
        const QString address = text(arv_get_device_address(i));
        camera.identity = {QStringLiteral("genicam"), address.isEmpty() ? id : address,
                           QStringLiteral("%1 %2").arg(text(arv_get_device_vendor(i)), text(arv_get_device_model(i))),
                           text(arv_get_device_serial_nbr(i))};
        camera.note = text(arv_get_device_protocol(i));
        // The serial number stays when the network gives the camera another address.
        const QString name = camera.identity.serial.isEmpty() ? id : camera.identity.serial;
        camera.driverFile = QStringLiteral("# %1 (%2)\nsource = genicam\ncamera = %3\n")
                                .arg(camera.identity.model, camera.identity.device, name);
        found << camera;
    }
    return found;
}

// One floating-point setting of the driver file and Aravis's accessors for it.
struct GenicamCamera::FloatFeature
{
    const char *key;
    std::optional<double> value;
    gboolean (*available)(ArvCamera *, GError **);
    void (*bounds)(ArvCamera *, double *, double *, GError **);
    void (*set)(ArvCamera *, double, GError **);
    gboolean (*autoAvailable)(ArvCamera *, GError **);
    void (*setAuto)(ArvCamera *, ArvAuto, GError **);
};

Status GenicamCamera::connectCamera(const QString &name)
{
    GError *error = nullptr;
    if (isIpv4Address(name)) {
        const QString local = localAddressTowards(name);
        if (local.isEmpty())
            return Status::failure(QStringLiteral("no network route to the camera at %1").arg(name));
        GInetAddress *interfaceAddress = g_inet_address_new_from_string(local.toLatin1().constData());
        GInetAddress *deviceAddress = g_inet_address_new_from_string(name.toLatin1().constData());
        ArvDevice *device = arv_gv_device_new(interfaceAddress, deviceAddress, &error);
        g_object_unref(interfaceAddress);
        g_object_unref(deviceAddress);
        if (device) {
            m_camera = arv_camera_new_with_device(device, &error);
            g_object_unref(device);
        }
    } else {
        QString reason;
        const QString id = findDeviceId(name, reason);
        if (id.isEmpty())
            return Status::failure(reason);
        m_camera = arv_camera_new(id.toUtf8().constData(), &error);
    }
    if (!m_camera) {
        const QString who = name.isEmpty() ? QStringLiteral("the GenICam camera") : name;
        return Status::failure(QStringLiteral("cannot open %1: %2").arg(who, takeError(error)));
    }
    return Status::success();
}

Status GenicamCamera::applySettings(const GenicamSettings &settings)
{
    GError *error = nullptr;
    if (!settings.pixelFormat.isEmpty()) {
        arv_camera_set_pixel_format_from_string(m_camera, settings.pixelFormat.toLatin1().constData(), &error);
        // Cameras made before the current naming call RGB8 "RGB8Packed".
        if (error && settings.pixelFormat == QLatin1String("RGB8")) {
            g_clear_error(&error);
            arv_camera_set_pixel_format_from_string(m_camera, "RGB8Packed", &error);
        }
        if (error)
            return Status::failure(QStringLiteral("the camera does not offer pixel-format %1: %2")
                                       .arg(settings.pixelFormat, takeError(error)));
    }
    if (Status s = applySize(settings.width, settings.height); !s)
        return s;
    // Aravis's own accessors know the older and vendor names of these features.
    const FloatFeature features[] = {
        {"exposure-us", settings.exposureUs, arv_camera_is_exposure_time_available, arv_camera_get_exposure_time_bounds,
         arv_camera_set_exposure_time, arv_camera_is_exposure_auto_available, arv_camera_set_exposure_time_auto},
        {"gain-db", settings.gainDb, arv_camera_is_gain_available, arv_camera_get_gain_bounds, arv_camera_set_gain,
         arv_camera_is_gain_auto_available, arv_camera_set_gain_auto},
        {"frame-rate", settings.frameRate, arv_camera_is_frame_rate_available, arv_camera_get_frame_rate_bounds,
         arv_camera_set_frame_rate, nullptr, nullptr}};
    for (const FloatFeature &feature : features) {
        if (feature.value)
            if (Status s = applyFloat(feature, *feature.value); !s)
                return s;
    }
    // After the frame rate, which Aravis sets by switching every trigger off.
    if (Status s = applyTrigger(settings.trigger); !s)
        return s;
    // Before the driver file's own features, which may switch the chunk data off again.
    enableChunkData();
    if (Status s = applyFeatures(arv_camera_get_device(m_camera), settings.features); !s)
        return s;
    return readBack();
}

Status GenicamCamera::readBack()
{
    GError *error = nullptr;
    const ArvPixelFormat format = arv_camera_get_pixel_format(m_camera, &error);
    const QString formatName = QString::fromUtf8(arv_camera_get_pixel_format_as_string(m_camera, nullptr));
    if (error)
        return Status::failure(QStringLiteral("cannot read the pixel format: %1").arg(takeError(error)));
    if (!canConvert(format))
        return Status::failure(QStringLiteral("the camera delivers %1; set pixel-format to one of %2")
                                   .arg(formatName, pixelFormatNames(genicamPixelFormats()).join(QStringLiteral(", "))));
    gint x = 0, y = 0, width = 0, height = 0;
    arv_camera_get_region(m_camera, &x, &y, &width, &height, nullptr);
    const double rate =
        arv_camera_is_frame_rate_available(m_camera, nullptr) ? arv_camera_get_frame_rate(m_camera, nullptr) : 0.0;
    const double exposureMs = arv_camera_is_exposure_time_available(m_camera, nullptr)
                                  ? arv_camera_get_exposure_time(m_camera, nullptr) / 1000.0
                                  : 0.0;
    m_softwareTrigger = triggerInForce(arv_camera_get_device(m_camera)) == u"software";
    // How long a frame may take follows from these two (Camera::frameWaitLimit).
    m_framePeriod = std::chrono::nanoseconds(rate > 0.0 ? std::int64_t(1e9 / rate) : 0);
    m_exposure = std::chrono::nanoseconds(std::int64_t(exposureMs * 1e6));
    const QString vendor = QString::fromUtf8(arv_camera_get_vendor_name(m_camera, nullptr));
    const QString model = QString::fromUtf8(arv_camera_get_model_name(m_camera, nullptr));
    const QString id = QString::fromUtf8(arv_camera_get_device_id(m_camera, nullptr));
    m_identity = {QStringLiteral("genicam"), deviceAddress(m_camera), QStringLiteral("%1 %2").arg(vendor, model),
                  QString::fromUtf8(arv_camera_get_device_serial_number(m_camera, nullptr))};
    if (m_identity.device.isEmpty())
        m_identity.device = id;
    m_pixelFormat = formatName;
    m_width = width;
    m_height = height;
    m_description = QStringLiteral("GenICam %1 %2 (%3) %4x%5 %6")
                        .arg(vendor, model, id)
                        .arg(width)
                        .arg(height)
                        .arg(formatName);
    return Status::success();
}

void GenicamCamera::pinTo(DriverFile &driver) const
{
    driver.pin(QStringLiteral("pixel-format"), m_pixelFormat);
    driver.pin(QStringLiteral("width"), QString::number(m_width));
    driver.pin(QStringLiteral("height"), QString::number(m_height));
    // Where the file names no camera, the first found would do; after a loss it must be this one.
    driver.pin(QStringLiteral("camera"), m_identity.serial);
}

Status GenicamCamera::applyTrigger(const QString &trigger)
{
    GError *error = nullptr;
    if (trigger == u"free-running") {
        arv_camera_clear_triggers(m_camera, &error);
    } else if (trigger == u"software") {
        // Asked first, so that the reason names what the camera lacks.
        if (!arv_camera_is_software_trigger_supported(m_camera, nullptr))
            return Status::failure(
                QStringLiteral("trigger = software: the camera has no software trigger (no TriggerSoftware command)"));
        if (!arv_camera_is_enumeration_entry_available(m_camera, "TriggerSource", "Software", nullptr))
            return Status::failure(
                QStringLiteral("trigger = software: the camera has no software trigger (TriggerSource offers no "
                               "Software)"));
        arv_camera_set_trigger(m_camera, "Software", &error);
    }
    if (error)
        return Status::failure(QStringLiteral("cannot set trigger = %1: %2").arg(trigger, takeError(error)));
    return Status::success();
}

Status GenicamCamera::applySize(int width, int height)
{
    if (width == 0 && height == 0)
        return Status::success();
    GError *error = nullptr;
    gint x = 0, y = 0, w = 0, h = 0;
    arv_camera_get_region(m_camera, &x, &y, &w, &h, &error);
    if (error)
        return Status::failure(QStringLiteral("cannot read the picture size: %1").arg(takeError(error)));
    // The ranges shrink by the offsets: clear them first, the picture starts at the corner.
    arv_camera_set_region(m_camera, 0, 0, w, h, nullptr);
    const struct
    {
        const char *key;
        int value;
        void (*bounds)(ArvCamera *, gint *, gint *, GError **);
        gint (*increment)(ArvCamera *, GError **);
    } sides[] = {{"width", width, arv_camera_get_width_bounds, arv_camera_get_width_increment},
                 {"height", height, arv_camera_get_height_bounds, arv_camera_get_height_increment}};
    for (const auto &side : sides) {
        if (side.value == 0)
            continue;
        gint min = 0, max = 0;
        side.bounds(m_camera, &min, &max, &error);
        const gint step = std::max(1, side.increment(m_camera, nullptr));
        if (error)
            return Status::failure(
                QStringLiteral("cannot read the %1 range: %2").arg(QLatin1String(side.key), takeError(error)));
        if (side.value > max || !onStep(side.value, min, step))
            return Status::failure(
                outOfRangeMessage(QLatin1String(side.key), min, max, step, QString::number(side.value)));
    }
    arv_camera_set_region(m_camera, 0, 0, width ? width : w, height ? height : h, &error);
    if (error)
        return Status::failure(QStringLiteral("cannot set the picture size: %1").arg(takeError(error)));
    return Status::success();
}

Status GenicamCamera::applyFloat(const FloatFeature &feature, double value)
{
    GError *error = nullptr;
    if (!feature.available(m_camera, nullptr))
        return Status::failure(QStringLiteral("the camera does not let %1 be set").arg(QLatin1String(feature.key)));
    // An automatic control left on would overwrite the value at once.
    if (feature.autoAvailable && feature.autoAvailable(m_camera, nullptr))
        feature.setAuto(m_camera, ARV_AUTO_OFF, nullptr);
    double min = 0.0, max = 0.0;
    feature.bounds(m_camera, &min, &max, &error);
    if (!error && (value < min || value > max))
        return Status::failure(outOfRangeMessage(QLatin1String(feature.key), min, max, 0.0, numberText(value)));
    g_clear_error(&error);
    feature.set(m_camera, value, &error);
    if (error)
        return Status::failure(QStringLiteral("cannot set %1: %2").arg(QLatin1String(feature.key), takeError(error)));
    return Status::success();
}
