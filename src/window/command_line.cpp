#include "window/command_line.h"

#include "gauge/port_listing.h"
#include "window/console_text.h"

#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <algorithm>
#include <cstring>

namespace piezon
{
namespace
{

const char kVersion[] = PIEZON_VERSION;

QString programName(const char* argv0)
{
    // Either separator: Windows starts programs by paths with backslashes.
    const QString path = QString::fromLocal8Bit(argv0);
    return path.mid(
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\'))) + 1);
}

QString shortUsage(const QString& name)
{
    return QStringLiteral("Использование: %1 [--list-ports | --help | --version]\n"
                          "Подробнее: %1 --help\n")
        .arg(name);
}

QString help(const QString& name)
{
    return QStringLiteral(
               "Пьезон для RX418 %2: показания манометра RX418 числом и стрелкой, с журналом.\n"
               "\n"
               "Использование: %1 [ПАРАМЕТР]\n"
               "Без параметров программа открывает своё окно.\n"
               "\n"
               "  --list-ports  показать, какие устройства стоят за номерами COM1–COM16\n"
               "  --help        показать эту справку\n"
               "  --version     показать версию программы\n"
               "\n"
               "%3"
               "Журнал Пьезон_RX418.log пишется в папку программы.\n")
        .arg(name, QLatin1String(kVersion), portNumberHint());
}

// Runs before any window exists and needs no display: an operator may ask over SSH.
int listPortsHere(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    console::print(portListText(QCoreApplication::applicationDirPath()));
    return 0;
}

} // namespace

std::optional<int> runCommandLine(int argc, char* argv[])
{
    if (argc < 2)
        return std::nullopt;
    const QString name = programName(argv[0]);
    const char* option = argv[1];
    if (argc == 2) {
        if (std::strcmp(option, "--list-ports") == 0)
            return listPortsHere(argc, argv);
        if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
            console::print(help(name));
            return 0;
        }
        if (std::strcmp(option, "--version") == 0) {
            console::print(QStringLiteral("Пьезон для RX418 %1\n").arg(QLatin1String(kVersion)));
            return 0;
        }
    }
    const QString problem =
        argc == 2 ? QStringLiteral("неизвестный параметр «%1»").arg(QString::fromLocal8Bit(option))
                  : QStringLiteral("можно указать только один параметр");
    console::printError(QStringLiteral("%1: %2.\n").arg(name, problem) + shortUsage(name));
    return 2;
}

} // namespace piezon
