// What a GenICam camera is set to: for the records of a series, per frame where the camera sends
// chunk data, and as a driver file for `cameras --settings`.

#include "cameras/genicam/genicam_camera.h"

#include "cameras/genicam/genicam_features.h"
#include "cameras/genicam/genicam_timing.h"

#include <arv.h>

#include <optional>

namespace {

// The chunks this program records, by their names in ChunkSelector; the frame's values then
// come as the features Chunk<name>.
constexpr const char *kChunks[] = {"ExposureTime", "Gain"};

int significantBitsOf(ArvPixelFormat format)
{
    switch (format) {
    case ARV_PIXEL_FORMAT_MONO_10:
        return 10;
    case ARV_PIXEL_FORMAT_MONO_12:
        return 12;
    case ARV_PIXEL_FORMAT_MONO_16:
        return 16;
    default:
        return 8;
    }
}

// A value the camera may fail to tell: nothing then.
std::optional<double> valueOf(ArvCamera *camera, double (*get)(ArvCamera *, GError **))
{
    GError *error = nullptr;
    const double value = get(camera, &error);
    if (!error)
        return value;
    g_clear_error(&error);
    return std::nullopt;
}

} // namespace

void GenicamCamera::GObjectUnref::operator()(void *object) const
{
    g_object_unref(object);
}

QString GenicamCamera::triggerInForce(ArvDevice *device)
{
    if (!hasFeature(device, "TriggerMode"))
        return QStringLiteral("free-running");
    GError *error = nullptr;
    const QString mode = QString::fromUtf8(arv_device_get_string_feature_value(device, "TriggerMode", &error));
    if (error || mode != u"On") {
        g_clear_error(&error);
        return QStringLiteral("free-running");
    }
    const char *source = arv_device_get_string_feature_value(device, "TriggerSource", &error);
    const QString name = error ? QString() : QString::fromUtf8(source);
    g_clear_error(&error);
    if (name == u"Software")
        return QStringLiteral("software");
    return name.isEmpty() ? QStringLiteral("on") : QStringLiteral("on, source %1").arg(name);
}

CameraSettingsInForce GenicamCamera::settingsInForce() const
{
    CameraSettingsInForce settings;
    // A camera that stopped answering would hold the caller through every retry.
    if (!m_camera || m_slot.isLost())
        return settings;
    const std::lock_guard lock(m_timing->control);
    ArvDevice *device = arv_camera_get_device(m_camera);
    settings.pixelFormat = QString::fromUtf8(arv_camera_get_pixel_format_as_string(m_camera, nullptr));
    settings.significantBits = significantBitsOf(arv_camera_get_pixel_format(m_camera, nullptr));
    if (arv_camera_is_exposure_time_available(m_camera, nullptr)) {
        settings.exposureUs = valueOf(m_camera, arv_camera_get_exposure_time);
        settings.exposureAuto = arv_camera_is_exposure_auto_available(m_camera, nullptr) &&
                                arv_camera_get_exposure_time_auto(m_camera, nullptr) != ARV_AUTO_OFF;
    }
    if (arv_camera_is_gain_available(m_camera, nullptr)) {
        settings.gain = valueOf(m_camera, arv_camera_get_gain);
        // Aravis falls back to a raw gain where the camera lacks the standard one in dB.
        settings.gainUnit = hasFeature(device, "Gain") || hasFeature(device, "GainAbs") ? QStringLiteral("dB")
                                                                                        : QStringLiteral("raw");
        settings.gainAuto = arv_camera_is_gain_auto_available(m_camera, nullptr) &&
                            arv_camera_get_gain_auto(m_camera, nullptr) != ARV_AUTO_OFF;
    }
    if (arv_camera_is_frame_rate_available(m_camera, nullptr))
        settings.frameRate = valueOf(m_camera, arv_camera_get_frame_rate);
    settings.trigger = triggerInForce(device);
    settings.frameTime = frameTimeNote();
    return settings;
}

Status GenicamCamera::describeSettings(const QString &name, QString &text)
{
    GenicamCamera camera;
    if (Status s = camera.connectCamera(name); !s)
        return s;
    text = describeFeatures(arv_camera_get_device(camera.m_camera));
    return Status::success();
}

void GenicamCamera::enableChunkData()
{
    if (!arv_camera_are_chunks_available(m_camera, nullptr))
        return;
    ArvDevice *device = arv_camera_get_device(m_camera);
    QStringList chunks;
    for (const char *chunk : kChunks)
        if (arv_device_is_enumeration_entry_available(device, "ChunkSelector", chunk, nullptr))
            chunks << QLatin1String(chunk);
    if (chunks.isEmpty())
        return;
    // Without chunk data the frames carry no exposure and gain of their own, and the series
    // records the settings in force at Start instead: not a reason to refuse the camera.
    GError *error = nullptr;
    arv_camera_set_chunks(m_camera, chunks.join(QLatin1Char(',')).toLatin1().constData(), &error);
    if (error) {
        g_clear_error(&error);
        return;
    }
    m_chunkParser.reset(arv_camera_create_chunk_parser(m_camera));
}

void GenicamCamera::readChunkData(ArvBuffer *buffer, Frame &frame) const
{
    if (!m_chunkParser || !arv_buffer_has_chunks(buffer))
        return;
    GError *error = nullptr;
    const double exposure = arv_chunk_parser_get_float_value(m_chunkParser.get(), buffer, "ChunkExposureTime", &error);
    if (!error)
        frame.exposureUs = exposure;
    g_clear_error(&error);
    const double gain = arv_chunk_parser_get_float_value(m_chunkParser.get(), buffer, "ChunkGain", &error);
    if (!error)
        frame.gain = gain;
    g_clear_error(&error);
}
