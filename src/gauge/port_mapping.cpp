#include "gauge/port_mapping.h"

#include <QDir>
#include <QFileInfo>

namespace piezon
{

QString resolveComPort(int n, const QString& programDir, const EntryExists& exists)
{
    if (n < 1)
        return {};
    const QString pinned = QDir(programDir).filePath(QStringLiteral("COM%1").arg(n));
    if (exists(pinned))
        return pinned;

#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    static const char* const kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM",
                                            "/dev/rfcomm"};
    int remaining = n;
    for (const char* family : kFamilies) {
        for (int i = 0;; ++i) {
            const QString device = QString::fromLatin1(family) + QString::number(i);
            if (!exists(device))
                break;
            if (--remaining == 0)
                return device;
        }
    }
    return {};
#endif
}

bool entryExistsOnDisk(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString describePort(int n, const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("COM%1").arg(n);
    return QStringLiteral("COM%1 (%2)").arg(n).arg(QDir::toNativeSeparators(path));
}

int parsePortNumber(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? n : 0;
}

} // namespace piezon
