#include "gauge/port_advice.h"

namespace piezon::advice
{

QString findThePort()
{
    return QStringLiteral("Подключите манометр или выберите другой номер порта.");
}

QString getAccess()
{
    return QStringLiteral("Добавьте пользователя в группу dialout "
                          "(sudo usermod -a -G dialout имя_пользователя), "
                          "затем выйдите из системы и войдите снова.");
}

} // namespace piezon::advice
