#pragma once

#include "base/status.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

// Brings the pictures of finished series to the disk, on a thread of its own per directory and
// never more than one at a time for a directory: a file system that hangs holds one thread, not
// one for every Stop. The threads are not waited for at the program's end beyond a bound, so
// the object lives as long as the process.
class DiskSync
{
public:
    using Done = std::function<void(const Status &)>;

    static DiskSync &shared();

    // Syncs the file system of `directory`; `done` is called on the sync's thread with the
    // result of a sync that began after this call.
    void request(const QString &directory, Done done);
    // Waits until every request so far is answered, at most until `deadline`; true when done.
    bool waitIdle(std::chrono::steady_clock::time_point deadline);

private:
    struct Directory
    {
        bool running = false;
        std::vector<Done> waiting;
    };
    void run(const QString &directory);

    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::map<QString, Directory> m_directories;
    int m_pending = 0;
};
