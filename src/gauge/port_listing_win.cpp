#include "gauge/port_listing.h"

#include <QSerialPortInfo>

namespace piezon
{

QString portListText(const QString&)
{
    QList<SystemPort> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos)
        ports.append(
            {info.portName(), info.description(), info.manufacturer(), info.serialNumber()});
    const QStringList lines = listSystemPorts(ports);
    if (lines.isEmpty())
        return QStringLiteral("Ни один из портов COM1–COM16 никуда не ведёт: в системе нет "
                              "последовательных портов.\nПодключите манометр и проверьте его "
                              "порт в Диспетчере устройств (раздел «Порты (COM и LPT)»).\n");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString portNumberHint()
{
    return QStringLiteral("Номер порта — номер COM, под которым Windows показывает манометр\n"
                          "в Диспетчере устройств (раздел «Порты (COM и LPT)»); для манометра\n"
                          "Bluetooth — на вкладке «COM-порты» параметров Bluetooth.\n");
}

} // namespace piezon
