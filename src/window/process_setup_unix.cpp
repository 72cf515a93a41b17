#include "window/process_setup.h"

#include "window/console_text.h"

#include <QtGlobal>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

namespace piezon::process
{

std::optional<int> cannotStart()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return std::nullopt;
    std::fputs("Пьезон для RX418: нет графического дисплея (переменная DISPLAY не задана).\n"
               "Запустите программу в графическом сеансе.\n",
               stderr);
    return 2;
}

void abandonStart(const QString& toolkitMessage)
{
    console::diagnostic(toolkitMessage);
    console::diagnostic(
        QStringLiteral("Пьезон для RX418: не удалось открыть окно на графическом дисплее."));
    std::_Exit(2);
}

void prepare()
{
    // A log that reaches the file size limit would otherwise kill us on the spot; ignored, the
    // write fails like on a full disk and the operator gets the same report and a STOP.
    std::signal(SIGXFSZ, SIG_IGN);
    // On a local X server Qt hands each picture over in shared memory, and before it paints the
    // next one it waits for the server to say it has read the last: a round trip that puts two
    // of our threads to sleep and wakes them for every picture. Sent over the connection
    // instead, the few kilobytes a picture changes cost less than those wake-ups.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    // Each thread that allocates while another holds the heap's lock would get a heap (arena)
    // of its own, which keeps what it once used, and 64 MiB of address space. Our threads other
    // than the window's allocate little and seldom, so one heap serves them all without their
    // waiting on each other.
    mallopt(M_ARENA_MAX, 1);
}

void releaseFreeMemory()
{
    malloc_trim(0);
}

} // namespace piezon::process
