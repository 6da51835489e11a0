#include "recording/disk_sync.h"

#include "picture_files/image_files.h"
#include "base/thread_name.h"

#include <QDir>
#include <QFile>

#include <memory>
#include <set>
#include <sys/stat.h>
#include <thread>

DiskSync &DiskSync::shared()
{
    // Never destroyed: a sync thread stuck in a hung file system may outlive everything else.
    static DiskSync *instance = new DiskSync;
    return *instance;
}

void DiskSync::request(const QStringList &directories, Done done)
{
    // syncfs() brings a whole file system to the disk: one directory of each is enough. A
    // directory that cannot be looked at is synced anyway, so that the failure is told.
    QStringList distinct;
    std::set<dev_t> devices;
    for (const QString &directory : directories) {
        struct stat info = {};
        if (::stat(QFile::encodeName(directory).constData(), &info) != 0 || devices.insert(info.st_dev).second)
            distinct << QDir::cleanPath(directory);
    }
    distinct.removeDuplicates();
    if (distinct.isEmpty()) {
        done(Status::success());
        return;
    }
    struct Answers
    {
        std::mutex mutex;
        qsizetype left = 0;
        Status result = Status::success();
        Done done;
    };
    auto answers = std::make_shared<Answers>();
    answers->left = distinct.size();
    answers->done = std::move(done);
    for (const QString &directory : distinct) {
        requestOne(directory, [answers](const Status &result) {
            std::unique_lock lock(answers->mutex);
            if (!result && answers->result)
                answers->result = result;
            if (--answers->left == 0) {
                lock.unlock();
                answers->done(answers->result);
            }
        });
    }
}

void DiskSync::requestOne(const QString &directory, Done done)
{
    const std::lock_guard lock(m_mutex);
    Directory &d = m_directories[directory];
    d.waiting.push_back(std::move(done));
    ++m_pending;
    if (d.running)
        return; // the running sync takes it up again when it is done
    d.running = true;
    std::thread([this, directory] {
        const OutlivingThread counted;
        nameThisThread("pir-sync");
        run(directory);
    }).detach();
}

void DiskSync::run(const QString &directory)
{
    for (;;) {
        std::vector<Done> answered;
        {
            const std::lock_guard lock(m_mutex);
            Directory &d = m_directories[directory];
            if (d.waiting.empty()) {
                m_directories.erase(directory);
                return;
            }
            answered.swap(d.waiting);
        }
        // Pictures written after this sync began are not sure to be in it: their series waits
        // for the next round.
        const Status result = syncSavedPictures(directory);
        for (const Done &done : answered)
            done(result);
        {
            const std::lock_guard lock(m_mutex);
            m_pending -= int(answered.size());
        }
        m_answered.notify_all();
    }
}

bool DiskSync::waitIdle(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return m_answered.wait_until(lock, deadline, [this] { return m_pending == 0; });
}
