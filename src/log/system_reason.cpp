#include "log/system_reason.h"

namespace piezon
{

QString systemReason(int errorNumber)
{
    const KnownReasons known = knownReasons();
    for (const KnownReason* k = known.begin; k != known.end; ++k) {
        if (k->number == errorNumber)
            return QString::fromUtf8(k->russian);
    }
    return systemText(errorNumber);
}

QString russianReason(const QString& reason)
{
    const QString trimmed = reason.trimmed();
    const KnownReasons known = knownReasons();
    for (const KnownReason* k = known.begin; k != known.end; ++k) {
        if (trimmed.compare(systemText(k->number).trimmed(), Qt::CaseInsensitive) == 0 ||
            (k->qtWords && trimmed.compare(QLatin1String(k->qtWords), Qt::CaseInsensitive) == 0))
            return QString::fromUtf8(k->russian);
    }
    return reason;
}

} // namespace piezon
