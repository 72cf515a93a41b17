#include "log/whole_records.h"

#include "log/log_file.h"

namespace piezon
{

qint64 appendWholeRecords(QFile& file, const QByteArray& records, int* why)
{
    const qint64 written =
        logfile::writeAtEnd(file.handle(), records.constData(), records.size(), why);
    if (written == records.size())
        return written;
    const qint64 whole = written > 0 ? records.lastIndexOf('\n', written - 1) + 1 : 0;
    if (written > whole) {
        // Measured from the file's end as it is now, so a file that someone else shortened is
        // never lengthened (with NUL bytes) by the cut.
        const qint64 end = file.size();
        if (end >= written - whole)
            logfile::setSize(file.handle(), end - (written - whole));
    }
    return whole;
}

} // namespace piezon
