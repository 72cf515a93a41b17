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

namespace
{
const KnownReason* recognised(const QString& reason)
{
    const QString trimmed = reason.trimmed();
    const KnownReasons known = knownReasons();
    for (const KnownReason* k = known.begin; k != known.end; ++k) {
        if (trimmed.compare(systemText(k->number).trimmed(), Qt::CaseInsensitive) == 0 ||
            (k->qtWords && trimmed.compare(QLatin1String(k->qtWords), Qt::CaseInsensitive) == 0))
            return k;
    }
    return nullptr;
}
} // namespace

QString russianReason(const QString& reason)
{
    const KnownReason* k = recognised(reason);
    return k ? QString::fromUtf8(k->russian) : reason;
}

QString russianPortReason(const QString& reason)
{
    const KnownReason* k = recognised(reason);
    if (!k)
        return reason;
    return QString::fromUtf8(k->ofAPort ? k->ofAPort : k->russian);
}

} // namespace piezon
