#include "gauge/line_opener.h"

#include <QThread>

#include <mutex>

namespace piezon
{

// Shared by this object's thread and the try's. Once abandoned, the try closes what it opened
// and tells nobody.
struct LineOpener::Attempt {
    QString device;
    LineSettings settings;
    bool launched = false;
    std::mutex mutex;
    bool abandoned = false;
    SerialLine::Opened result;
};

LineOpener::LineOpener(QObject* parent) : QObject(parent) {}

LineOpener::~LineOpener()
{
    cancel();
}

void LineOpener::start(const QString& device, const LineSettings& settings)
{
    if (m_attempt)
        return;
    m_attempt = std::make_shared<Attempt>();
    m_attempt->device = device;
    m_attempt->settings = settings;
    // A try given up on may still be inside the open. Ours waits for it: the device takes one
    // opener at a time (Qt's lock file, a COM port's single handle), and a second open meanwhile
    // would fail as if another program held the port.
    if (!m_worker)
        launch();
}

void LineOpener::launch()
{
    const std::shared_ptr<Attempt> attempt = m_attempt;
    attempt->launched = true;
    QThread* home = thread();
    // A thread Qt knows, so that the line's notifiers can be made on it and moved with it. It is
    // never waited for: the program may end while a driver holds it in the open, and the thread
    // object is let go once it is done.
    QThread* worker = QThread::create([this, attempt, home] {
        SerialLine::Opened opened = SerialLine::open(attempt->device, attempt->settings);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned)
            return; // the line, still this thread's, is closed here
        if (opened.line)
            opened.line->moveToThread(home);
        attempt->result = std::move(opened);
        // Posted while this object cannot be abandoning the try (it takes the same lock), and
        // dropped with the object if it is destroyed before the event is delivered.
        QMetaObject::invokeMethod(
            this, [this, attempt] { onDone(attempt); }, Qt::QueuedConnection);
    });
    m_worker = worker;
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, worker] {
        // The thread object may be gone already (its deletion was posted first).
        if (m_worker && m_worker != worker)
            return;
        m_worker = nullptr;
        if (m_attempt && !m_attempt->launched)
            launch();
    });
    worker->start();
}

void LineOpener::onDone(const std::shared_ptr<Attempt>& attempt)
{
    if (attempt != m_attempt)
        return; // cancelled meanwhile: the line goes with the attempt, on this thread
    m_attempt.reset();
    SerialLine::Opened opened;
    {
        std::lock_guard<std::mutex> lock(attempt->mutex);
        opened = std::move(attempt->result);
    }
    emit finished(opened);
}

void LineOpener::cancel()
{
    const std::shared_ptr<Attempt> attempt = std::exchange(m_attempt, nullptr);
    if (!attempt)
        return;
    SerialLine::Opened dropped; // closed once the lock is let go
    std::lock_guard<std::mutex> lock(attempt->mutex);
    attempt->abandoned = true;
    dropped = std::move(attempt->result);
}

} // namespace piezon
