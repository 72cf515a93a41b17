#pragma once

class QCoreApplication;

namespace piezon
{

// Qt's own texts (the buttons of a message box, the serial port's and the file layer's error
// texts) in Russian, like everything else the operator reads. Without Qt's translations installed
// they stay as Qt has them.
void loadRussianTranslations(QCoreApplication& app);

} // namespace piezon
