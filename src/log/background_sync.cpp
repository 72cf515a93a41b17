#include "log/background_sync.h"

#include "log/log_file.h"

#include <chrono>

namespace piezon
{
int BackgroundSync::syncNow(int fd)
{
    return logfile::syncToDisk(fd);
}

BackgroundSync::BackgroundSync(SyncFunction sync)
    : m_sync(sync ? std::move(sync) : SyncFunction(&BackgroundSync::syncNow))
{
}

BackgroundSync::~BackgroundSync()
{
    stop();
}

void BackgroundSync::start(int fd, int alsoFd)
{
    stop();
    m_fd = fd;
    m_alsoFd = alsoFd;
    m_dirty = false;
    m_stopping = false;
    m_failure = 0;
    m_thread = std::thread(&BackgroundSync::run, this);
}

void BackgroundSync::noteWritten()
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_dirty || !m_thread.joinable())
            return;
        m_dirty = true;
        wake = m_idle;
    }
    // Outside the lock, so that the thread does not wake only to wait for it.
    if (wake)
        m_wake.notify_one();
}

void BackgroundSync::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
    m_fd = -1;
    m_alsoFd = -1;
}

void BackgroundSync::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_idle = true;
        m_wake.wait(lock, [this] { return m_dirty || m_stopping; });
        m_idle = false;
        // One sync a period for as long as records keep coming; the first of them waits at most
        // a period for its sync, as it would alone.
        for (;;) {
            m_wake.wait_for(lock, std::chrono::milliseconds(kDelayMs),
                            [this] { return m_stopping; });
            if (m_stopping)
                return;
            if (!m_dirty)
                break;
            m_dirty = false;
            lock.unlock();
            // Both files' data on their way to the disk at once: the two syncs then wait for
            // one write, not one after the other (a wake-up less per period on ext4).
            if (m_alsoFd >= 0) {
                logfile::startWriteback(m_fd);
                logfile::startWriteback(m_alsoFd);
            }
            int failed = m_sync(m_fd);
            if (failed == 0 && m_alsoFd >= 0)
                failed = m_sync(m_alsoFd);
            if (failed != 0) {
                // The first reason is the one the operator is told.
                int none = 0;
                m_failure.compare_exchange_strong(none, failed);
            }
            lock.lock();
        }
    }
}

} // namespace piezon
