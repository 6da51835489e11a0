#pragma once

#include "base/status.h"

#include <QString>
#include <QStringList>

#include <atomic>

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

    // Syncs the file system of each of `directories`, each file system once; `done` is called on
    // a sync's thread, with the first failure if any, once a sync of every one that began after
    // this call is over.
    void request(const QStringList &directories, Done done);
    // Waits until every request so far is answered, at most until `deadline`; true when done.
    bool waitIdle(std::chrono::steady_clock::time_point deadline);

private:
    struct Directory
    {
        bool running = false;
        std::vector<Done> waiting;
    };
    void requestOne(const QString &directory, Done done);
    void run(const QString &directory);

    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::map<QString, Directory> m_directories;
    int m_pending = 0;
};

// Counts the threads that may outlive their series (a writer or a sync held up by a disk that
// hangs) while they run, so that the program's end can tell whether any still does.
class OutlivingThread
{
public:
    OutlivingThread() { ++s_running; }
    ~OutlivingThread() { --s_running; }
    OutlivingThread(const OutlivingThread &) = delete;
    OutlivingThread &operator=(const OutlivingThread &) = delete;
    static int running() { return s_running.load(); }

private:
    static inline std::atomic<int> s_running{0};
};
