#include "picture_files/temporary_files.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char partSuffix[] = ".part";
constexpr int tagLength = 6;
constexpr std::size_t decoration = 1 + 1 + tagLength + sizeof partSuffix - 1; // ".", ".", tag, ".part"
// A save writes its pieces within milliseconds of each other; a file untouched for this long
// belongs to no save under way, even on a disk that stalls for a while.
constexpr time_t staleAfterSeconds = 60;

bool isTagCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

QByteArray randomTag()
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray tag(tagLength, '\0');
    for (char &c : tag)
        c = alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet) - 1)];
    return tag;
}

// A temporary file whose save has ended: old, and locked by no one.
bool isAbandoned(int directory, const char *name)
{
    const int fd = ::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool abandoned = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                           info.st_mtime + staleAfterSeconds < std::time(nullptr) &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return abandoned;
}

} // namespace

QByteArray temporaryName(const QByteArray &name, std::size_t nameMax)
{
    qsizetype keep = name.size();
    if (std::size_t(keep) + decoration > nameMax) {
        keep = qsizetype(nameMax > decoration ? nameMax - decoration : 0);
        // A cut inside a UTF-8 sequence would leave a name that is not text.
        while (keep > 0 && (std::uint8_t(name[keep]) & 0xc0) == 0x80)
            --keep;
    }
    return '.' + name.left(keep) + '.' + randomTag() + partSuffix;
}

bool isTemporaryName(const QByteArray &name)
{
    const qsizetype suffix = qsizetype(sizeof partSuffix - 1);
    if (std::size_t(name.size()) < decoration || !name.startsWith('.') || !name.endsWith(partSuffix))
        return false;
    const qsizetype tag = name.size() - suffix - tagLength;
    if (name[tag - 1] != '.')
        return false;
    for (qsizetype i = tag; i < tag + tagLength; ++i) {
        if (!isTagCharacter(name[i]))
            return false;
    }
    return true;
}

int removeStaleTemporaries(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory.isEmpty() ? QStringLiteral(".") : directory).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR *listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(listing)) {
        if (isTemporaryName(QByteArray(entry->d_name)) && isAbandoned(fd, entry->d_name) &&
            ::unlinkat(fd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(listing);
    return removed;
}
