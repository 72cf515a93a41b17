#include "gauge/port_advice.h"

namespace piezon::advice
{

QString findThePort()
{
    return QStringLiteral("Подключите манометр и посмотрите номер его порта в Диспетчере "
                          "устройств (раздел «Порты (COM и LPT)»; для манометра Bluetooth — "
                          "вкладка «COM-порты» параметров Bluetooth), затем выберите этот номер.");
}

QString getAccess()
{
    return QStringLiteral("Закройте программу, которая работает с этим портом, и проверьте порт "
                          "в Диспетчере устройств (раздел «Порты (COM и LPT)»).");
}

} // namespace piezon::advice
