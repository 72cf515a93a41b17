#include "gauge/port_mapping.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace piezon
{

bool entryExistsOnDisk(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString identityAmong(const QString& device, const QString& namesFolder)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (canonical.isEmpty())
        return device;
    const QFileInfoList names =
        QDir(namesFolder)
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& name : names) {
        if (name.isSymLink() && name.canonicalFilePath() == canonical)
            return name.absoluteFilePath();
    }
    return device;
}

PortNaming portNamingOnDisk(const QString& programDir)
{
    PortNaming naming;
    naming.resolve = [programDir](int n) {
        return comPortDevice(n, programDir, entryExistsOnDisk);
    };
    naming.identify = deviceIdentity;
    naming.locate = locateDevice;
    return naming;
}

} // namespace piezon
