#include "cameras/v4l2/v4l2_device_io.h"

#include <QDir>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

class SystemIo final : public V4l2DeviceIo
{
public:
    QStringList videoNodes() override
    {
        QStringList paths;
        for (const QString &name : QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System))
            paths << QStringLiteral("/dev/") + name;
        return paths;
    }
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void *arg) override { return ::ioctl(fd, request, arg); }
    void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override
    {
        return ::mmap(nullptr, length, prot, flags, fd, offset);
    }
    int munmap(void *address, std::size_t length) override { return ::munmap(address, length); }
    int poll(pollfd *fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

SystemIo systemIo;
std::atomic<V4l2DeviceIo *> installed{nullptr};

} // namespace

V4l2DeviceIo &V4l2DeviceIo::current()
{
    V4l2DeviceIo *io = installed.load();
    return io ? *io : systemIo;
}

V4l2DeviceIo *V4l2DeviceIo::install(V4l2DeviceIo *io)
{
    return installed.exchange(io);
}

int v4l2Ioctl(int fd, unsigned long request, void *arg)
{
    int result;
    do {
        result = V4l2DeviceIo::current().ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

QString v4l2ErrorText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
