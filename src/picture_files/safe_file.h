#pragma once

#include "base/status.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// How hard a save works to get the file onto the disk before it returns.
enum class Durability : std::uint8_t {
    // The file is complete in the kernel's cache when it gets its final name: a crash of the
    // program never leaves a partial picture, a power cut may lose the last seconds.
    Cached,
    // Writeback of the file starts before the rename, without waiting for it.
    StartWriteback,
    // The file's data reach the disk before the rename (fdatasync): survives a power cut,
    // at three to four times the cost of the write.
    Synced,
};

// Whether a save may replace a file of its name.
enum class SaveMode : std::uint8_t {
    // The save fails with "file already exists" when the name is taken, also when another
    // program or series took it while the picture was being written.
    CreateNew,
    // A file of that name is replaced: for a picture that replaces one its own series saved.
    ReplaceOwn,
};

// A file that appears under its final name only once it is complete, written in pieces of at
// most 64 KiB. It is made as an unnamed file in the target's folder (O_TMPFILE) and linked to
// its name by commit(), so that a killed program leaves nothing behind and a name taken
// meanwhile is never replaced. Where the file system cannot make unnamed files, a hidden
// temporary file beside the target (temporary_files.h) is renamed instead. Whatever is not
// committed is removed, so a failed or abandoned save leaves nothing behind.
class SafeFile
{
public:
    static constexpr std::size_t pieceSize = 64 * 1024;

    explicit SafeFile(const QString &path, SaveMode mode = SaveMode::CreateNew);
    ~SafeFile();
    SafeFile(const SafeFile &) = delete;
    SafeFile &operator=(const SafeFile &) = delete;

    // Creates the file, not yet under its name; the reason names what stands in the way.
    Status open();

    // Appends bytes. They reach the file in whole pieces of pieceSize at offsets that are
    // multiples of it (the last one excepted): on these machines a write that starts or ends
    // inside such a piece costs noticeably more kernel time.
    Status write(const void *data, std::size_t size);
    Status write(const QByteArray &bytes) { return write(bytes.constData(), std::size_t(bytes.size())); }

    // Space for up to `size` bytes at the end of the buffer, to be filled and then
    // confirmed with commitSpace(). Lets encoders convert rows in place instead of copying.
    std::uint8_t *reserve(std::size_t size);
    Status commitSpace(std::size_t size);

    // Overwrites bytes already appended, as formats with a header that points forwards need.
    Status writeAt(std::uint64_t offset, const void *data, std::size_t size);
    // The bytes appended so far.
    std::uint64_t size() const { return m_written + m_used; }

    // Writes what is buffered, optionally syncs, and gives the file its final name.
    Status commit(Durability durability = Durability::Cached);

    // Removes what was written; also done by the destructor.
    void discard();

    const QString &path() const { return m_path; }

    // Whether files are made unnamed where the file system can (the default). Off, every save
    // takes the way of file systems that cannot: the benchmarks compare the two, the tests run
    // both.
    static void setUnnamedFiles(bool on);

private:
    Status openNamed(const QByteArray &directory, const QByteArray &name);
    int nameUnnamed();
    int nameTemporary();
    int linkUnder(const QByteArray &name);
    Status writeAll(const std::uint8_t *data, std::size_t size);
    Status writeWholePieces();
    Status flushBuffer();
    Status failure(int error);

    QString m_path;
    QByteArray m_target;   // m_path as the file system takes it
    QByteArray m_tempPath; // the hidden temporary file; empty while the file is unnamed
    SaveMode m_mode;
    int m_fd = -1;
    QByteArray m_buffer;
    std::size_t m_used = 0;      // bytes in m_buffer, fewer than pieceSize between calls
    std::uint64_t m_written = 0; // bytes in the file
    Status m_firstFailure = Status::success();
};

// The reason shown for a failed file operation, phrased for the user. It names the part of
// `path` at fault, never the whole of it: the message around it shows the file's name.
QString fileErrorReason(int error, const QString &path);
