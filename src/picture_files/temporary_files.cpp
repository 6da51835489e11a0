#include "picture_files/temporary_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char marker[] = ".pir-";
constexpr char partSuffix[] = ".part";
constexpr int tagLength = 6;
constexpr int checkLength = 8; // hexadecimal digits
constexpr std::size_t markerLength = sizeof marker - 1;
constexpr std::size_t suffixLength = sizeof partSuffix - 1;
// ".", then the name, the marker, the tag, "-", the check code and ".part".
constexpr std::size_t decoration = 1 + markerLength + tagLength + 1 + checkLength + suffixLength;
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

// Binds the tag to the name it decorates: no name a person or another program gives a file
// carries it by chance.
QByteArray checkCode(const QByteArray &name, const QByteArray &tag)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("pictures-in-a-row temporary file\n");
    hash.addData(name + '\n' + tag);
    return hash.result().left(checkLength / 2).toHex();
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
    const QByteArray kept = name.left(keep);
    const QByteArray tag = randomTag();
    return '.' + kept + marker + tag + '-' + checkCode(kept, tag) + partSuffix;
}

bool isTemporaryName(const QByteArray &name)
{
    if (std::size_t(name.size()) < decoration || !name.startsWith('.') || !name.endsWith(partSuffix))
        return false;
    const qsizetype check = name.size() - qsizetype(suffixLength) - checkLength;
    const qsizetype tag = check - 1 - tagLength;
    const qsizetype kept = tag - qsizetype(markerLength);
    if (name.mid(kept, qsizetype(markerLength)) != marker || name[check - 1] != '-')
        return false;
    const QByteArray tagText = name.mid(tag, tagLength);
    if (!std::all_of(tagText.cbegin(), tagText.cend(), isTagCharacter))
        return false;
    return name.mid(check, checkLength) == checkCode(name.mid(1, kept - 1), tagText);
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
