#include "picture_files/safe_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int createAttempts = 100;
constexpr char partSuffix[] = ".part";

QByteArray randomTag()
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray tag(6, '\0');
    for (char &c : tag)
        c = alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet) - 1)];
    return tag;
}

// ".<name>.XXXXXX.part", with the name shortened when the decoration would push the temporary
// name past the file system's limit although the final name fits.
QByteArray temporaryName(const QByteArray &name)
{
    const int decoration = 1 + 1 + 6 + int(sizeof partSuffix) - 1;
    return '.' + name.left(NAME_MAX - decoration) + '.' + randomTag() + partSuffix;
}

// Names the first part of the way to the folder of `path` that is missing or is a file, so
// that the reason says which one; empty when every part is a folder.
QString folderProblem(const QString &path)
{
    QString walked;
    for (const QString &part : QFileInfo(path).absolutePath().split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + part;
        const QFileInfo info(walked);
        if (!info.exists())
            return QStringLiteral("the directory \"%1\" does not exist").arg(part);
        if (!info.isDir())
            return QStringLiteral("\"%1\" is a file, not a directory").arg(part);
    }
    return QString();
}

} // namespace

// The message that shows a reason also shows the file's full name, so the reason names only
// the part of it that is the cause.
QString fileErrorReason(int error, const QString &path)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: {
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
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

SafeFile::SafeFile(const QString &path) : m_path(path) {}

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
    const QByteArray dir = QFile::encodeName(info.path()) + '/';
    for (int attempt = 0; attempt < createAttempts; ++attempt) {
        const QByteArray temp = dir + temporaryName(name);
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_tempPath = QFile::decodeName(temp);
            m_buffer.resize(qsizetype(2 * pieceSize));
            m_used = 0;
            m_written = 0;
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

Status SafeFile::commit(Durability durability)
{
    if (m_fd < 0)
        return Status::failure(QStringLiteral("the file was not opened"));
    // A writer that went on after a failed write must not get a damaged file renamed.
    if (!m_firstFailure)
        return m_firstFailure;
    if (Status status = flushBuffer(); !status)
        return status;
    if (durability == Durability::Synced && ::fdatasync(m_fd) != 0)
        return failure(errno);
    if (durability == Durability::StartWriteback)
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE); // advisory: a failure changes nothing
    const int fd = m_fd;
    m_fd = -1;
    // Network file systems may report a failed write only when the file is closed.
    if (::close(fd) != 0 && errno != EINTR)
        return failure(errno);
    const QByteArray temp = QFile::encodeName(m_tempPath);
    if (::rename(temp.constData(), QFile::encodeName(m_path).constData()) != 0)
        return failure(errno);
    m_tempPath.clear();
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
        ::unlink(QFile::encodeName(m_tempPath).constData());
        m_tempPath.clear();
    }
}
