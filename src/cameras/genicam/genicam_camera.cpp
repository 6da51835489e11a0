#include "cameras/genicam/genicam_camera.h"

#include "cameras/camera_settings.h"
#include "cameras/genicam/genicam_timing.h"
#include "cameras/driver_file.h"
#include "cameras/genicam/genicam_error.h"
#include "cameras/pixel_formats.h"
#include "cameras/pixel_conversion.h"
#include "base/stopwatch.h"

#include <arv.h>

#include <chrono>
#include <thread>

namespace {

constexpr int kBufferCount = 8;

int bytesPerSample(ArvPixelFormat format)
{
    return int(ARV_PIXEL_FORMAT_BIT_PER_PIXEL(format) + 7) / 8;
}

// Converts one finished buffer; a null frame for a layout this program cannot show.
Frame convertImage(const std::uint8_t *data, std::size_t size, ArvPixelFormat format, int width, int height,
                   int xPadding)
{
    const int stride = width * bytesPerSample(format) + xPadding;
    if (width <= 0 || height <= 0 || !data ||
        size < std::size_t(stride) * std::size_t(height - 1) + std::size_t(stride - xPadding))
        return {};
    const NamedPixelFormat *named = findPixelFormat(genicamPixelFormats(), format);
    if (!named)
        return {};
    switch (named->layout) {
    case SourceLayout::Mono8:
        return convertMono8(data, width, height, stride);
    case SourceLayout::Mono10:
        return convertMono16(data, width, height, stride, 10);
    case SourceLayout::Mono12:
        return convertMono16(data, width, height, stride, 12);
    case SourceLayout::Mono16:
        return convertMono16(data, width, height, stride, 16);
    case SourceLayout::Rgb8:
        return convertRgb24(data, width, height, stride);
    case SourceLayout::BayerRg8:
        return convertBayer8(data, width, height, stride, BayerPattern::RGGB);
    case SourceLayout::BayerGr8:
        return convertBayer8(data, width, height, stride, BayerPattern::GRBG);
    case SourceLayout::BayerGb8:
        return convertBayer8(data, width, height, stride, BayerPattern::GBRG);
    case SourceLayout::BayerBg8:
        return convertBayer8(data, width, height, stride, BayerPattern::BGGR);
    case SourceLayout::Yuyv:
    case SourceLayout::Mjpeg:
        break;
    }
    return {};
}

} // namespace

bool GenicamCamera::canConvert(std::uint32_t arvPixelFormat)
{
    const std::uint8_t probe[8] = {};
    return !convertImage(probe, sizeof probe, ArvPixelFormat(arvPixelFormat), 1, 1, 0).isNull();
}

// What Aravis's threads call back into. It outlives the camera object while the Aravis
// objects of a lost camera are released in the background, and tells late callbacks that
// there is nobody left to call.
struct GenicamCamera::Link
{
    std::mutex mutex;
    GenicamCamera *camera = nullptr;
};

GenicamCamera::GenicamCamera(QObject *parent)
    : StreamingCamera(parent), m_link(new Link), m_timing(std::make_shared<Timing>())
{
    m_link->camera = this;
    connect(&m_liveTrigger, &QTimer::timeout, this, &GenicamCamera::fireLiveTrigger);
}

GenicamCamera::~GenicamCamera()
{
    stopLive();
    {
        const std::lock_guard lock(m_link->mutex);
        m_link->camera = nullptr;
    }
    if (m_acquiring.load())
        stopStream();
    {
        const std::lock_guard lock(m_timing->wakeMutex);
        m_timing->stop = true;
    }
    m_timing->wake.notify_all();
    // The latch thread holds the camera, and with it the heartbeat thread that reports a lost
    // control channel through the link: it is joined first, so that releasing the stream joins
    // the stream thread and releasing the camera the heartbeat thread, and only then does the
    // link go. A camera that stopped answering makes each of them wait out every retry (about
    // nine seconds with GigE Vision), which must not freeze the window.
    auto release = [link = m_link, stream = m_stream, camera = m_camera, latch = std::move(m_clockThread),
                    newBuffer = m_newBufferHandler, controlLost = m_controlLostHandler]() mutable {
        if (latch.joinable())
            latch.join();
        if (camera && controlLost)
            g_signal_handler_disconnect(arv_camera_get_device(camera), controlLost);
        if (stream) {
            arv_stream_set_emit_signals(stream, FALSE);
            if (newBuffer)
                g_signal_handler_disconnect(stream, newBuffer);
            g_object_unref(stream);
        }
        if (camera)
            g_object_unref(camera);
        delete link;
    };
    if (isLost())
        std::thread(std::move(release)).detach();
    else
        release();
}

Status GenicamCamera::open(const DriverFile &driver)
{
    GenicamSettings settings;
    if (Status s = readGenicamSettings(driver, settings); !s)
        return s;
    if (Status s = connectCamera(settings.camera); !s)
        return s;
    if (Status s = applySettings(settings); !s)
        return s;
    findLatch();
    return createStream();
}

Status GenicamCamera::createStream()
{
    GError *error = nullptr;
    m_stream = arv_camera_create_stream(m_camera, nullptr, nullptr, &error);
    if (!m_stream)
        return Status::failure(QStringLiteral("cannot open the camera's stream: %1").arg(takeError(error)));
    const guint payload = arv_camera_get_payload(m_camera, &error);
    if (error)
        return Status::failure(QStringLiteral("cannot read the picture size: %1").arg(takeError(error)));
    // Continuous mode also serves a single picture: a frame damaged on the wire is then
    // followed by the next one instead of leaving the snap without any.
    arv_camera_set_acquisition_mode(m_camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    if (error)
        return Status::failure(QStringLiteral("cannot set continuous acquisition: %1").arg(takeError(error)));
    for (int i = 0; i < kBufferCount; ++i)
        arv_stream_push_buffer(m_stream, arv_buffer_new(payload, nullptr));
    m_newBufferHandler = g_signal_connect(m_stream, "new-buffer", G_CALLBACK(&GenicamCamera::onNewBuffer), m_link);
    arv_stream_set_emit_signals(m_stream, TRUE);
    m_controlLostHandler = g_signal_connect(arv_camera_get_device(m_camera), "control-lost",
                                            G_CALLBACK(&GenicamCamera::onControlLost), m_link);
    return Status::success();
}

Status GenicamCamera::startStream()
{
    GError *error = nullptr;
    // Aravis stamps a frame's first packet on the wall clock, which may be set back at any time;
    // the start is kept on the monotonic clock, to which each frame's stamp is brought.
    m_acceptAfterNs = stopwatchClockNs();
    {
        const std::lock_guard lock(m_timing->clockMutex);
        m_timing->clock.reset();
    }
    // The camera's clock may have been reset since the last stream: it is latched afresh, then
    // every few seconds on a thread of its own, which holds up neither a series nor the window.
    if (m_timing->latchCommand) {
        m_timing->latch(m_camera);
        if (!m_clockThread.joinable())
            m_clockThread = std::thread([timing = m_timing, camera = ARV_CAMERA(g_object_ref(m_camera))] {
                timing->keep(camera);
                g_object_unref(camera);
            });
    }
    m_acquiring = true;
    m_timing->streaming = true;
    {
        const std::lock_guard lock(m_timing->control);
        arv_camera_start_acquisition(m_camera, &error);
    }
    if (error) {
        // The camera did not take the command: it is gone, or another program controls it.
        m_acquiring = false;
        m_timing->streaming = false;
        loseCamera(QStringLiteral("the camera does not start acquiring: %1").arg(takeError(error)));
        return Status::failure(lostReason());
    }
    return Status::success();
}

void GenicamCamera::stopStream()
{
    if (!m_acquiring.exchange(false))
        return;
    m_timing->streaming = false;
    // A camera that no longer answers would hold the caller through every retry.
    if (isLost())
        return;
    GError *error = nullptr;
    const std::lock_guard lock(m_timing->control);
    arv_camera_stop_acquisition(m_camera, &error);
    g_clear_error(&error);
}

void GenicamCamera::onNewBuffer(ArvStream *, void *data)
{
    Link *link = static_cast<Link *>(data);
    const std::lock_guard lock(link->mutex);
    if (link->camera)
        link->camera->takeBuffer();
}

void GenicamCamera::onControlLost(void *, void *data)
{
    Link *link = static_cast<Link *>(data);
    const std::lock_guard lock(link->mutex);
    if (link->camera)
        link->camera->loseCamera(QStringLiteral("the camera stopped answering"));
}

void GenicamCamera::takeBuffer()
{
    ArvBuffer *buffer = arv_stream_try_pop_buffer(m_stream);
    if (!buffer)
        return;
    Frame frame;
    // Frames begun before the acquisition was asked for belong to an earlier one. The frame's
    // first packet was stamped on the wall clock; the wall clock's distance from the monotonic
    // one now brings it over.
    const std::int64_t wallToMonotonicNs = stopwatchClockNs() - g_get_real_time() * 1000;
    const std::int64_t begunNs = std::int64_t(arv_buffer_get_system_timestamp(buffer)) + wallToMonotonicNs;
    if (m_acquiring.load() && arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS &&
        begunNs >= m_acceptAfterNs.load())
        frame = convertBuffer(buffer);
    const guint64 frameId = arv_buffer_get_frame_id(buffer);
    const guint64 stamp = arv_buffer_get_timestamp(buffer);
    arv_stream_push_buffer(m_stream, buffer);
    if (frame.isNull())
        return;
    frame.cameraFrameId = frameId;
    const std::int64_t arrivalNs = stopwatchClockNs();
    {
        const std::lock_guard lock(m_timing->clockMutex);
        frame.captureNs = m_timing->clock.toHost(std::int64_t(stamp), arrivalNs);
    }
    deliver(frame);
}

Frame GenicamCamera::convertBuffer(ArvBuffer *buffer) const
{
    // With chunk data on, the image comes as extended chunk data, the chunks after its pixels.
    const ArvBufferPayloadType payload = arv_buffer_get_payload_type(buffer);
    if (payload != ARV_BUFFER_PAYLOAD_TYPE_IMAGE && payload != ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA)
        return {};
    std::size_t size = 0;
    const auto *data = static_cast<const std::uint8_t *>(arv_buffer_get_image_data(buffer, &size));
    gint xPadding = 0, yPadding = 0;
    arv_buffer_get_image_padding(buffer, &xPadding, &yPadding);
    Frame frame = convertImage(data, size, arv_buffer_get_image_pixel_format(buffer),
                               arv_buffer_get_image_width(buffer), arv_buffer_get_image_height(buffer), xPadding);
    readChunkData(buffer, frame);
    return frame;
}

GenicamCamera::StreamCounts GenicamCamera::streamCounts() const
{
    guint64 completed = 0, failures = 0, underruns = 0;
    if (m_stream)
        arv_stream_get_statistics(m_stream, &completed, &failures, &underruns);
    return {completed + failures + underruns, completed};
}
