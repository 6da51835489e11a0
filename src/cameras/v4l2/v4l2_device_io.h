#pragma once

#include <QStringList>

#include <cstddef>
#include <poll.h>
#include <sys/types.h>

// The system calls through which the V4L2 back-end reaches video devices, behind one small
// interface so that the whole back-end can run against a device that behaves like a driver
// without one being plugged in. Every call answers as the system call of its name does:
// -1 (or MAP_FAILED) with errno set on failure.
class V4l2DeviceIo
{
public:
    virtual ~V4l2DeviceIo() = default;

    // The paths of the video device nodes present, "/dev/video0" and so on, in any order.
    virtual QStringList videoNodes() = 0;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
    virtual void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void *address, std::size_t length) = 0;
    virtual int poll(pollfd *fds, nfds_t count, int timeoutMs) = 0;

    // The calls in use: the system's, unless another was installed.
    static V4l2DeviceIo &current();
    // Makes `io` the calls of the whole process (nullptr: the system's again) and returns
    // the one it replaces. Only while no V4L2 camera is open.
    static V4l2DeviceIo *install(V4l2DeviceIo *io);
};

// An ioctl through the calls in use, repeated while a signal interrupts it.
int v4l2Ioctl(int fd, unsigned long request, void *arg);

// The system's text for the current errno.
QString v4l2ErrorText();
