#include "window/command_line.h"
#include "window/console_text.h"
#include "window/default_button_rest.h"
#include "window/end_signals.h"
#include "window/form1.h"
#include "window/process_setup.h"
#include "window/translations.h"

#include <QApplication>
#include <QGuiApplication>

namespace
{

// The toolkit ends with a fatal message when it cannot reach the display it was given or use
// its platform plugin; turn that into an operator's message and a plain exit instead of a crash
// report.
void onToolkitMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg)
        piezon::process::abandonStart(message);
    piezon::console::diagnostic(message);
}

} // namespace

int main(int argc, char* argv[])
{
    // --list-ports, --help, --version: answered without a display, before any window exists.
    if (const std::optional<int> status = piezon::runCommandLine(argc, argv))
        return *status;
    if (const std::optional<int> status = piezon::process::cannotStart())
        return *status;
    piezon::process::prepare();
    qInstallMessageHandler(onToolkitMessage);
    QApplication app(argc, argv);
    piezon::loadRussianTranslations(app);
    piezon::DefaultButtonRest restingButtons;
    piezon::Form1::Environment env;
    env.programDir = QCoreApplication::applicationDirPath();
    piezon::Form1 form(env);
    QObject::connect(&form, &piezon::Form1::programEnded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    piezon::EndSignals endSignals;
    QObject::connect(&endSignals, &piezon::EndSignals::endRequested, &form,
                     &piezon::Form1::endProgram);
    form.show();
    return app.exec();
}
