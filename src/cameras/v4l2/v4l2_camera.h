#pragma once

#include "cameras/streaming_camera.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

struct V4l2Settings;

// "YUYV" for V4L2_PIX_FMT_YUYV.
QString fourccName(std::uint32_t fourcc);

// A V4L2 video device (`source = v4l2`): USB UVC cameras and many frame grabbers.
// Frames stream through memory-mapped buffers on a thread of the camera's own, which
// converts each into a frame of our own memory and gives the buffer back to the driver.
// A device that is unplugged or sends nothing in time is reported once through `lost`.
class V4l2Camera final : public StreamingCamera
{
    Q_OBJECT
public:
    explicit V4l2Camera(QObject *parent = nullptr);
    ~V4l2Camera() override;

    QString description() const override { return m_description; }
    CameraIdentity identity() const override { return m_identity; }
    Status open(const DriverFile &driver) override;
    std::chrono::nanoseconds framePeriod() const override { return std::chrono::nanoseconds(m_framePeriodNs.load()); }
    CameraSettingsInForce settingsInForce() const override;
    void pinTo(DriverFile &driver) const override;

    // The first /dev/video* that can stream pictures in a format this program reads, or
    // an empty text when there is none. A node that another program holds or this user
    // may not open counts as found, so that opening it tells why.
    static QString findFirstDevice();
    // The node of the capture device that `identity` names (its card, where it is plugged in and
    // its serial number), whatever number it has now; empty while there is none.
    static QString findDevice(const CameraIdentity &identity);
    // Every capture device, with its formats and sizes, in the order of its node numbers.
    static QList<FoundCamera> listCameras();
    // The driver-file lines of everything the device at `path` can be set to, at its current
    // value; the reason says why the device could not be asked.
    static Status describeSettings(const QString &path, QString &text);

private:
    Status openDevice(const QString &path);
    Status setFormat(const V4l2Settings &settings);
    Status mapBuffers();
    void unmapBuffers();
    // The driver file's frame rate, exposure, gain, white balance and controls, in that order.
    Status applyControls(const V4l2Settings &settings);
    Status setFrameRate(double rate);
    Status startStream() override;
    void stopStream() override;
    bool isOpen() const override { return m_fd >= 0 && !m_buffers.empty(); }
    // Fails the start with errno's reason; a device that is gone is lost.
    Status abandonStart(const QString &what);
    // The driver's frame interval, where it tells one.
    void readFramePeriod();
    void run();
    // What one dequeue gave: a frame delivered, a damaged one dropped, nothing yet, or the
    // end because the device was lost.
    enum class Taken { Frame, Damaged, Nothing, Lost };
    Taken takeBuffer();
    Status convert(const std::uint8_t *data, std::size_t size, Frame &out) const;

    struct Mapping
    {
        void *start = nullptr;
        std::size_t length = 0;
    };

    int m_fd = -1;
    QString m_device;
    QString m_description;
    CameraIdentity m_identity;
    std::uint32_t m_fourcc = 0;
    int m_width = 0;
    int m_height = 0;
    int m_stride = 0;
    std::vector<Mapping> m_buffers;
    std::atomic<std::int64_t> m_framePeriodNs{0};

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};
