#include "log/companion_file.h"

#include "log/background_sync.h"
#include "log/system_reason.h"
#include "log/whole_records.h"

namespace piezon
{

bool CompanionFile::write(const QByteArray& rows, QString* error, qint64* kept)
{
    if (kept)
        *kept = 0;
    if (!m_file.isOpen()) {
        if (error)
            *error = QStringLiteral("файл не открыт");
        return false;
    }
    int why = 0;
    const qint64 whole = appendWholeRecords(m_file, rows, &why);
    if (whole > 0)
        m_sync.noteWritten();
    if (kept)
        *kept = whole;
    if (whole == rows.size())
        return true;
    if (error)
        *error = systemReason(why);
    return false;
}

} // namespace piezon
