#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace piezon
{

// Puts a file's new records on the disk soon after they are written, from a thread of its own:
// a sync can take tens of milliseconds on an SD card or a network share, and the readings must
// not wait for it. A power cut then loses at most the last second or so.
//
// The thread wakes once a period while records keep coming (a slow gauge writes one every tenth
// of a second): records written meanwhile only mark the file as unsynced and wake nobody. Only
// the first record after a whole period without any wakes the thread, which then sleeps
// without a deadline until the next one.
class BackgroundSync
{
public:
    // How long new records may wait in the OS before they are synced, and so the least time
    // between two syncs. A second: with the companion record, a sync of both files a second
    // costs a slow gauge fewer wake-ups than one file every 0.75 s did.
    static constexpr int kDelayMs = 1000;

    // Returns 0, or the system's error number (errno, a Windows error code) when the data could
    // not be put on the disk.
    using SyncFunction = std::function<int(int fd)>;

    // The default puts the file's data (and its size) on the disk: fdatasync, FlushFileBuffers.
    explicit BackgroundSync(SyncFunction sync = {});
    BackgroundSync(const BackgroundSync&) = delete;
    BackgroundSync& operator=(const BackgroundSync&) = delete;
    ~BackgroundSync();

    // `fd` must not be the descriptor records are written through (see logfile::openForSync).
    // `alsoFd`, when given, is a second file written with the first (the companion record): the
    // same rules, synced in the same pass.
    void start(int fd, int alsoFd = -1);
    // Cheap enough for every record: only a record that finds the thread asleep without a
    // deadline wakes it.
    void noteWritten();
    // Waits for a sync under way, then stops; the caller syncs what is left itself.
    void stop();

    // The error number of the first sync that failed since start(), or 0. Records that were
    // not put on the disk may be lost in a power cut: the session must not go on as if they
    // were safe.
    int failure() const { return m_failure.load(std::memory_order_relaxed); }

    // The file's data (and its size) on the disk now, blocking until it is. 0, or the error.
    static int syncNow(int fd);

private:
    void run();

    SyncFunction m_sync;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_fd = -1;
    int m_alsoFd = -1;
    bool m_dirty = false;
    bool m_idle = false; // the thread waits for a record, not for the end of a period
    bool m_stopping = false;
    std::atomic<int> m_failure{0};
};

} // namespace piezon
