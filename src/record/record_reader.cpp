#include "record/record_reader.h"

#include "record/companion_parser.h"
#include "record/record_file.h"

#include <QThread>

#include <vector>

namespace piezon
{

RecordReader::RecordReader(QObject* parent) : QObject(parent) {}

RecordReader::~RecordReader()
{
    if (!m_thread)
        return;
    m_cancel = true;
    m_thread->wait();
    delete m_thread;
}

bool RecordReader::start(const QString& path)
{
    return !m_thread && start(path, std::make_unique<record::RecordSessions>());
}

bool RecordReader::start(const QString& path, std::unique_ptr<record::RecordConsumer> consumer)
{
    if (m_thread)
        return false;
    const bool sessions = dynamic_cast<record::RecordSessions*>(consumer.get()) != nullptr;
    m_cancel = false;
    m_done = 0;
    m_total = 0;
    m_outcome = Outcome();
    m_thread = QThread::create(
        [this, path, sessions](std::unique_ptr<record::RecordConsumer> into) {
            run(path, std::move(into), sessions);
        },
        std::move(consumer));
    // Its finished() is sent from the thread itself: taken here, in the window's thread.
    connect(m_thread, &QThread::finished, this, &RecordReader::onThreadDone, Qt::QueuedConnection);
    // Readings come first: the parse takes what the session leaves of the processor.
    m_thread->start(QThread::LowPriority);
    return true;
}

void RecordReader::cancel()
{
    m_cancel = true;
}

RecordReader::Outcome RecordReader::take()
{
    return std::move(m_outcome);
}

void RecordReader::onThreadDone()
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    emit finished();
}

void RecordReader::run(const QString& path, std::unique_ptr<record::RecordConsumer> consumer,
                       bool sessions)
{
    Outcome out;
    out.path = path;
    RecordFile file;
    if (!file.open(path, &out.reason)) {
        out.kind = Outcome::Kind::Failed;
        m_outcome = std::move(out);
        return;
    }
    m_total = file.size();
    record::CompanionParser parser(*consumer);
    std::vector<char> chunk(static_cast<std::size_t>(kChunk));
    qint64 done = 0;
    for (;;) {
        if (m_cancel) {
            out.kind = Outcome::Kind::Cancelled;
            m_outcome = std::move(out);
            return;
        }
        const qint64 got = file.read(chunk.data(), kChunk, &out.reason);
        if (got < 0) {
            out.kind = Outcome::Kind::Failed;
            m_outcome = std::move(out);
            return;
        }
        if (got == 0)
            break;
        done += got;
        m_done = done;
        if (!parser.feed(chunk.data(), qsizetype(got)))
            break;
    }
    // What was read is the record: the handle goes before the histories are handed over.
    file.close();
    if (!parser.finish()) {
        out.kind = Outcome::Kind::Refused;
        out.reason = parser.failure();
        m_outcome = std::move(out);
        return;
    }
    out.kind = Outcome::Kind::Read;
    out.readings = parser.readingCount();
    out.leftTornLine = parser.leftTornLine();
    if (sessions)
        out.sessions.reset(static_cast<record::RecordSessions*>(consumer.release()));
    else
        out.consumer = std::move(consumer);
    m_outcome = std::move(out);
}

} // namespace piezon
