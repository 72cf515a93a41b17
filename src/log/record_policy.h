#pragma once

#include <QString>

#include <optional>

namespace piezon
{

// Decides which readings the log records: every reading in the all-data mode, otherwise only
// those whose shown text differs from the one before. Forgets the previous text when a new log
// starts, so every log begins with its first reading.
class RecordPolicy
{
public:
    // Whether this reading gets a record. Remembers the caption either way.
    bool decide(bool allData, const QString& caption)
    {
        const bool record = allData || !m_previous || *m_previous != caption;
        m_previous = caption;
        return record;
    }

    void reset() { m_previous.reset(); }

private:
    std::optional<QString> m_previous;
};

} // namespace piezon
