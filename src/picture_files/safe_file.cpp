#include "picture_files/safe_file.h"

#include "picture_files/temporary_files.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int createAttempts = 100;

std::atomic<bool> unnamedFiles{true};

// Names the first part of the way to the folder of `path` that is missing, is a file or is a
// link that leads nowhere, so that the reason says which one; empty when every part is a folder.
QString folderProblem(const QString &path)
{
    QString walked;
    for (const QString &part : QFileInfo(path).absolutePath().split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(walked);
        struct stat info = {};
        if (::stat(name.constData(), &info) != 0) {
            if (errno == ELOOP)
                return QStringLiteral("the symbolic link \"%1\" leads round in a loop").arg(part);
            if (::lstat(name.constData(), &info) == 0)
                return QStringLiteral("the symbolic link \"%1\" leads to nothing").arg(part);
            return QStringLiteral("the directory \"%1\" does not exist").arg(part);
        }
        if (!S_ISDIR(info.st_mode))
            return QStringLiteral("\"%1\" is a file, not a directory").arg(part);
    }
    return QString();
}

// Linux refuses unnamed files on file systems that cannot make them with one of these.
bool lacksUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Whether a rename that must not replace is unknown to the file system or the kernel.
bool lacksNoReplace(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// A link refuses a folder in the way as it refuses a file, but the two are told apart.
int nameError(int error, const QByteArray &target)
{
    struct stat info = {};
    if (error == EEXIST && ::lstat(target.constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return EISDIR;
    return error;
}

} // namespace

// The message that shows a reason also shows the file's full name, so the reason names only
// the part of it that is the cause.
QString fileErrorReason(int error, const QString &path)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: {
        const QString problem = folderProblem(path);
        if (!problem.isEmpty())
            return problem;
        // Every folder is there: a file system such as /proc takes no new files.
        return QStringLiteral("the directory does not allow new files");
    }
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission to write in the directory");
    case EROFS:
        return QStringLiteral("the directory is on a read-only file system");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("no space left on the disk");
    case ENAMETOOLONG:
        return QStringLiteral("the name is too long for the file system");
    case EISDIR:
        return QStringLiteral("a directory of that name is in the way");
    case EFBIG:
        return QStringLiteral("the file is larger than the system allows");
    case EEXIST:
        return QStringLiteral("file already exists");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

SafeFile::SafeFile(const QString &path, SaveMode mode)
    : m_path(path), m_target(QFile::encodeName(path)), m_mode(mode)
{
}

SafeFile::~SafeFile()
{
    discard();
}

Status SafeFile::failure(int error)
{
    const Status status = Status::failure(fileErrorReason(error, m_path));
    if (m_firstFailure)
        m_firstFailure = status;
    return status;
}

Status SafeFile::open()
{
    const QFileInfo info(m_path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty())
        return Status::failure(QStringLiteral("the name ends with a directory and names no file"));
    if (name.size() > NAME_MAX)
        return failure(ENAMETOOLONG);
    const QByteArray directory = QFile::encodeName(info.path());
    m_buffer.resize(qsizetype(2 * pieceSize));
    m_used = 0;
    m_written = 0;
    if (!unnamedFiles.load(std::memory_order_relaxed))
        return openNamed(directory, name);
    m_fd = ::open(directory.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd >= 0)
        return Status::success();
    if (!lacksUnnamedFiles(errno))
        return failure(errno);
    return openNamed(directory, name);
}

void SafeFile::setUnnamedFiles(bool on)
{
    unnamedFiles = on;
}

Status SafeFile::openNamed(const QByteArray &directory, const QByteArray &name)
{
    const long limit = ::pathconf(directory.constData(), _PC_NAME_MAX);
    for (int attempt = 0; attempt < createAttempts; ++attempt) {
        const QByteArray temp = directory + '/' + temporaryName(name, limit > 0 ? std::size_t(limit) : NAME_MAX);
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // The lock tells removeStaleTemporaries() that this file is being written.
            ::flock(fd, LOCK_EX | LOCK_NB);
            m_fd = fd;
            m_tempPath = temp;
            return Status::success();
        }
        if (errno != EEXIST && errno != EINTR)
            return failure(errno);
    }
    return Status::failure(QStringLiteral("no temporary file can be made in the directory"));
}

Status SafeFile::writeAll(const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, std::min(size, pieceSize));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure(errno);
        }
        if (n == 0)
            return failure(ENOSPC);
        data += n;
        size -= std::size_t(n);
        m_written += std::uint64_t(n);
    }
    return Status::success();
}

Status SafeFile::writeWholePieces()
{
    const std::size_t whole = m_used - m_used % pieceSize;
    if (whole == 0)
        return Status::success();
    const Status status = writeAll(reinterpret_cast<const std::uint8_t *>(m_buffer.constData()), whole);
    std::memmove(m_buffer.data(), m_buffer.constData() + whole, m_used - whole);
    m_used -= whole;
    return status;
}

Status SafeFile::flushBuffer()
{
    const Status status = writeAll(reinterpret_cast<const std::uint8_t *>(m_buffer.constData()), m_used);
    m_used = 0;
    return status;
}

Status SafeFile::write(const void *data, std::size_t size)
{
    auto bytes = static_cast<const std::uint8_t *>(data);
    while (size > 0) {
        if (m_used == 0 && size >= pieceSize) {
            // Whole pieces go straight from the caller's memory.
            const std::size_t whole = size - size % pieceSize;
            if (Status status = writeAll(bytes, whole); !status)
                return status;
            bytes += whole;
            size -= whole;
            continue;
        }
        const std::size_t n = std::min(size, pieceSize - m_used);
        std::memcpy(m_buffer.data() + m_used, bytes, n);
        m_used += n;
        bytes += n;
        size -= n;
        if (Status status = writeWholePieces(); !status)
            return status;
    }
    return Status::success();
}

std::uint8_t *SafeFile::reserve(std::size_t size)
{
    if (m_used + size > std::size_t(m_buffer.size()))
        m_buffer.resize(qsizetype(m_used + size));
    return reinterpret_cast<std::uint8_t *>(m_buffer.data()) + m_used;
}

Status SafeFile::commitSpace(std::size_t size)
{
    m_used += size;
    return writeWholePieces();
}

Status SafeFile::writeAt(std::uint64_t offset, const void *data, std::size_t size)
{
    if (offset + size > this->size())
        return Status::failure(QStringLiteral("a write past the end of the file"));
    auto bytes = static_cast<const std::uint8_t *>(data);
    // The part still in the buffer is patched in memory, the part before it on the disk.
    if (offset + size > m_written) {
        const std::uint64_t from = std::max(offset, m_written);
        std::memcpy(m_buffer.data() + (from - m_written), bytes + (from - offset), std::size_t(offset + size - from));
        size = std::size_t(from - offset);
    }
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, bytes, std::min(size, pieceSize), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failure(n < 0 ? errno : ENOSPC);
        offset += std::uint64_t(n);
        bytes += n;
        size -= std::size_t(n);
    }
    return Status::success();
}

// Gives the unnamed file the name `name`; fails with EEXIST when the name is taken.
int SafeFile::linkUnder(const QByteArray &name)
{
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int error = errno;
    // Without /proc only the direct form is left, which needs CAP_DAC_READ_SEARCH.
    if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0 &&
        ::linkat(m_fd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH) == 0)
        return 0;
    return error == ENOENT ? errno : error;
}

// A picture that replaces one of its series is linked under a hidden name and renamed over it:
// a rename replaces the old picture in one step, so that there is always one of the two.
int SafeFile::nameUnnamed()
{
    const int error = linkUnder(m_target);
    if (error != EEXIST || m_mode != SaveMode::ReplaceOwn)
        return error;
    const QFileInfo info(m_path);
    const QByteArray directory = QFile::encodeName(info.path()) + '/';
    const QByteArray name = QFile::encodeName(info.fileName());
    for (int attempt = 0; attempt < createAttempts; ++attempt) {
        const QByteArray temp = directory + temporaryName(name, NAME_MAX);
        const int linked = linkUnder(temp);
        if (linked == EEXIST)
            continue;
        if (linked != 0)
            return linked;
        if (::rename(temp.constData(), m_target.constData()) == 0)
            return 0;
        const int renameError = errno;
        ::unlink(temp.constData());
        return renameError;
    }
    return EEXIST;
}

int SafeFile::nameTemporary()
{
    if (m_mode == SaveMode::ReplaceOwn)
        return ::rename(m_tempPath.constData(), m_target.constData()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, m_tempPath.constData(), AT_FDCWD, m_target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!lacksNoReplace(errno))
        return errno;
    // A hard link refuses a taken name too; the temporary name goes once the link is made.
    if (::link(m_tempPath.constData(), m_target.constData()) == 0) {
        ::unlink(m_tempPath.constData());
        return 0;
    }
    if (errno == EEXIST || (errno != EPERM && errno != EOPNOTSUPP))
        return errno;
    // A file system without hard links (FAT) leaves only a look before the rename.
    if (::access(m_target.constData(), F_OK) == 0)
        return EEXIST;
    return ::rename(m_tempPath.constData(), m_target.constData()) == 0 ? 0 : errno;
}

Status SafeFile::commit(Durability durability)
{
    if (m_fd < 0)
        return Status::failure(QStringLiteral("the file was not opened"));
    // A writer that went on after a failed write must not get a damaged file named.
    if (!m_firstFailure)
        return m_firstFailure;
    if (Status status = flushBuffer(); !status)
        return status;
    if (durability == Durability::Synced && ::fdatasync(m_fd) != 0)
        return failure(errno);
    if (durability == Durability::StartWriteback)
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE); // advisory: a failure changes nothing
    const bool unnamed = m_tempPath.isEmpty();
    // An unnamed file is linked through its descriptor, so it is closed only once it has its name.
    if (const int error = unnamed ? nameUnnamed() : 0; error != 0)
        return failure(nameError(error, m_target));
    const int fd = m_fd;
    m_fd = -1;
    // Network file systems may report a failed write only when the file is closed.
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        ::unlink((unnamed ? m_target : m_tempPath).constData());
        m_tempPath.clear();
        return failure(error);
    }
    if (!unnamed) {
        if (const int error = nameTemporary(); error != 0) {
            ::unlink(m_tempPath.constData());
            m_tempPath.clear();
            return failure(nameError(error, m_target));
        }
        m_tempPath.clear();
    }
    if (durability == Durability::Synced) {
        // The new directory entry needs its own sync to survive a power cut.
        const int dirFd = ::open(QFile::encodeName(QFileInfo(m_path).path()).constData(), O_RDONLY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
    }
    return Status::success();
}

void SafeFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        ::unlink(m_tempPath.constData());
        m_tempPath.clear();
    }
}
