#include "gauge/serial_line.h"

#include "log/system_reason.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QWinEventNotifier>

#include <algorithm>
#include <utility>
#include <windows.h>

// The line is read with overlapped reads of our own, never with WaitCommEvent: Wine on a
// pseudo-terminal (a line without modem signals) ends every WaitCommEvent at once as aborted,
// and a port read that way never delivers a byte there. A read itself works everywhere.
//
// While the line is listened to, one read of a single byte waits in the driver; its completion
// wakes the window's thread through an event. Whatever came after that byte is then in the
// driver's buffer, and takeAll() fetches all of it with one read of exactly as many bytes as wait
// there, which returns at once. A busy line therefore costs one wake-up per batch the caller
// takes, a quiet one none.

namespace piezon
{
namespace
{

// What a lost line is called wherever the system's own words would not say what happened.
const char kHungUp[] = "Устройство отключилось, линия разорвана.";

// The driver's buffers: more than a second of the line at 9600 baud.
constexpr DWORD kBufferBytes = 4096;
// Bytes the driver already holds come at once; this only bounds a driver that misbehaves.
constexpr DWORD kDrainWaitMs = 1000;
// After a cancel the driver completes the request promptly; a pulled USB adapter may take a while.
constexpr DWORD kCancelWaitMs = 5000;
// Waiting reads in a row that may end without a byte on a line that is still there (see
// Private::goneAfterEmptyRead).
constexpr int kEmptyReadsTolerated = 3;

// The codes by which the line's far end or its device goes away, each driver in its own words:
// Wine's pseudo-terminal (a broken pipe on the waiting read, "not ready" from the line's state),
// USB adapters and Bluetooth ports (not connected, a general failure, a command it no longer
// understands, access denied on a handle that was ours a moment ago).
bool hungUp(DWORD code)
{
    switch (code) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
        return true;
    default:
        return false;
    }
}

QString lostReason(DWORD code)
{
    return hungUp(code) ? QString::fromUtf8(kHungUp) : systemReason(static_cast<int>(code));
}

SerialLine::OpenFailure openFailure(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return SerialLine::OpenFailure::NotFound;
    // Windows answers "access denied" for a port another program holds.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return SerialLine::OpenFailure::Busy;
    // A Bluetooth port whose gauge is off or out of range.
    case ERROR_SEM_TIMEOUT:
        return SerialLine::OpenFailure::Unreachable;
    default:
        return SerialLine::OpenFailure::Other;
    }
}

HANDLE newEvent()
{
    // Manual reset: the notifier only watches it, and a read or write resets it as it starts.
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void closeEvent(HANDLE& event)
{
    if (event)
        ::CloseHandle(event);
    event = nullptr;
}

// The outcome of a request that has ended: how many bytes it moved, and 0 as the code if it went
// well (a cancel of ours counts as going well; the bytes moved before it are kept).
struct Ended {
    DWORD bytes = 0;
    DWORD code = 0;
};

Ended ended(HANDLE handle, OVERLAPPED* request, bool cancelledByUs)
{
    Ended e;
    if (!::GetOverlappedResult(handle, request, &e.bytes, FALSE)) {
        e.code = ::GetLastError();
        if (cancelledByUs && e.code == ERROR_OPERATION_ABORTED)
            e.code = 0;
    }
    return e;
}

// Cancels a request of ours and waits until the driver is done with it: its buffer and its
// OVERLAPPED must outlive it. False if the driver never let go.
bool cancelAndWait(HANDLE handle, OVERLAPPED* request, HANDLE event)
{
    ::CancelIoEx(handle, request);
    return ::WaitForSingleObject(event, kCancelWaitMs) == WAIT_OBJECT_0;
}

// How many bytes the driver holds; false with the code if the line is lost. Line errors (a
// garbled byte, an overrun) are cleared by asking, and the line goes on.
bool inQueue(HANDLE handle, DWORD* bytes, DWORD* code)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &errors, &status)) {
        *code = ::GetLastError();
        return false;
    }
    *bytes = status.cbInQue;
    return true;
}

} // namespace

struct SerialLine::Private {
    explicit Private(SerialLine* line) : q(line) {}
    ~Private()
    {
        closeEvent(waitEvent);
        closeEvent(drainEvent);
        closeEvent(writeEvent);
    }

    void startWaiting();
    void onWaitEvent();
    void announce();
    void announceLater();
    bool collect();
    bool goneAfterEmptyRead(const Ended& e, QString* reason);
    void lose(const QString& reason);

    SerialLine* const q;
    HANDLE handle = INVALID_HANDLE_VALUE;

    // The single byte that waits while the line is listened to.
    OVERLAPPED waitRead{};
    HANDLE waitEvent = nullptr;
    unsigned char waitByte = 0;
    bool waitPending = false;
    int emptyReads = 0; // in a row
    // Made on the first listen(true), in the thread the line then lives in.
    QWinEventNotifier* notifier = nullptr;

    // Fetching what the driver holds, and sending: each with an event of its own, so that
    // neither is mistaken for the other or for the waiting byte.
    OVERLAPPED drainRead{};
    HANDLE drainEvent = nullptr;
    OVERLAPPED write{};
    HANDLE writeEvent = nullptr;

    QByteArray kept; // received, in order, not yet taken
    bool listening = false;
    bool readyPosted = false;
    // A failure found inside a call is announced from the event loop; a close() before then
    // silences it.
    bool failurePosted = false;
    QString failure;
};

SerialLine::SerialLine() : d(std::make_unique<Private>(this)) {}

SerialLine::~SerialLine()
{
    close();
}

SerialLine::Opened SerialLine::open(const QString& device, const LineSettings& settings)
{
    // "COM10" and above open only by the device namespace; it serves every number.
    const QString path = QStringLiteral("\\\\.\\") + device;
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                      0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        Opened failed;
        failed.failure = openFailure(code);
        failed.reason = systemReason(static_cast<int>(code));
        return failed;
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(handle, &dcb);
    if (ok) {
        dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
        dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
        dcb.Parity = NOPARITY;
        dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
        // Every byte is a reading, exactly as it came: zero bytes are not dropped, no byte stops
        // or starts the line, a garbled one is passed on as it is and stops nothing.
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fNull = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = TRUE;
        // Some adapters draw their power from these lines; they are signals, not flow control.
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        ok = ::SetCommState(handle, &dcb);
    }
    ok = ok && ::SetupComm(handle, kBufferBytes, kBufferBytes);
    // No timeouts at all: a read ends when it has every byte it asked for, a write when every
    // byte is in the driver. The single waiting byte and the exact fetch rely on that.
    COMMTIMEOUTS timeouts{};
    ok = ok && ::SetCommTimeouts(handle, &timeouts);
    // Bytes that waited in the device belong to no session of ours.
    ok = ok && ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_TXABORT);

    std::unique_ptr<SerialLine> line(new SerialLine);
    Private& p = *line->d;
    if (ok) {
        p.waitEvent = newEvent();
        p.drainEvent = newEvent();
        p.writeEvent = newEvent();
        ok = p.waitEvent && p.drainEvent && p.writeEvent;
    }
    if (!ok) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(handle);
        Opened failed;
        failed.failure = OpenFailure::Other;
        failed.reason = systemReason(static_cast<int>(code));
        return failed;
    }
    p.handle = handle;
    return {std::move(line), OpenFailure::None, {}};
}

bool SerialLine::isOpen() const
{
    return d->handle != INVALID_HANDLE_VALUE;
}

// --- Reading ---------------------------------------------------------------------------------

bool SerialLine::Private::goneAfterEmptyRead(const Ended& e, QString* reason)
{
    // Wine sets the line to give back at once whatever waits, and ends a waiting read that was
    // woken but found nothing after all as a broken pipe, as it ends one whose far end has gone;
    // only then does the line's state fail as well. A read that keeps ending so is taken at its
    // word: started again, it would only end the same way.
    const bool perhapsEmpty = e.code == 0 || e.code == ERROR_BROKEN_PIPE;
    if (perhapsEmpty && ++emptyReads <= kEmptyReadsTolerated) {
        DWORD waiting = 0;
        DWORD code = 0;
        if (inQueue(handle, &waiting, &code))
            return false;
        *reason = lostReason(code);
        return true;
    }
    *reason = e.code != 0 ? lostReason(e.code) : QString::fromUtf8(kHungUp);
    return true;
}

void SerialLine::Private::lose(const QString& reason)
{
    // What came before is kept for takeAll(); failed() follows once, from the event loop.
    q->close();
    failure = reason;
    failurePosted = true;
    QMetaObject::invokeMethod(
        q,
        [this] {
            if (std::exchange(failurePosted, false))
                emit q->failed(failure);
        },
        Qt::QueuedConnection);
}

void SerialLine::Private::startWaiting()
{
    waitRead = OVERLAPPED{};
    waitRead.hEvent = waitEvent;
    if (::ReadFile(handle, &waitByte, 1, nullptr, &waitRead)) {
        // It came at once; it is taken where every byte is, when the event is seen.
        waitPending = true;
        ::SetEvent(waitEvent);
        return;
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_IO_PENDING)
        waitPending = true;
    else
        lose(lostReason(code));
}

void SerialLine::Private::onWaitEvent()
{
    // First: Qt watches the event again as soon as this returns, and one left signalled would
    // be seen again at once.
    ::ResetEvent(waitEvent);
    if (!q->isOpen() || !waitPending)
        return;
    const Ended e = ended(handle, &waitRead, false);
    if (e.code == ERROR_IO_INCOMPLETE)
        return; // not ours to act on yet
    waitPending = false;
    if (e.code != 0 || e.bytes == 0) {
        QString reason;
        if (goneAfterEmptyRead(e, &reason)) {
            q->close();
            emit q->failed(reason);
        } else if (listening) {
            startWaiting();
        }
        return;
    }
    emptyReads = 0;
    kept.append(static_cast<char>(waitByte));
    if (listening)
        announce(); // otherwise kept, and listen(true) announces it
}

void SerialLine::Private::announce()
{
    QPointer<SerialLine> alive(q);
    emit q->readyRead();
    // A receiver that neither took the bytes nor said otherwise is told again when more come.
    if (alive && q->isOpen() && listening && !waitPending && !readyPosted)
        startWaiting();
}

void SerialLine::Private::announceLater()
{
    readyPosted = true;
    QMetaObject::invokeMethod(
        q,
        [this] {
            readyPosted = false;
            if (q->isOpen() && listening)
                announce();
        },
        Qt::QueuedConnection);
}

bool SerialLine::Private::collect()
{
    DWORD waiting = 0;
    DWORD code = 0;
    if (waitPending) {
        bool cancelled = false;
        Ended e = ended(handle, &waitRead, false);
        if (e.code == ERROR_IO_INCOMPLETE) {
            if (!inQueue(handle, &waiting, &code)) {
                lose(lostReason(code));
                return false;
            }
            if (waiting == 0)
                return true; // nothing came: the byte goes on waiting
            // Bytes wait in the driver beside our read. Whatever the read gets now comes before
            // them, so it is finished first and the order kept.
            cancelled = true;
            if (!cancelAndWait(handle, &waitRead, waitEvent)) {
                lose(systemReason(ERROR_SEM_TIMEOUT));
                return false;
            }
            e = ended(handle, &waitRead, true);
        }
        waitPending = false;
        ::ResetEvent(waitEvent);
        if (e.bytes == 1) {
            emptyReads = 0;
            kept.append(static_cast<char>(waitByte));
        } else if (!cancelled || e.code != 0) {
            QString reason;
            if (goneAfterEmptyRead(e, &reason)) {
                lose(reason);
                return false;
            }
        }
    }

    if (!inQueue(handle, &waiting, &code)) {
        lose(lostReason(code));
        return false;
    }
    if (waiting == 0)
        return true;
    QByteArray bytes(static_cast<qsizetype>(waiting), Qt::Uninitialized);
    drainRead = OVERLAPPED{};
    drainRead.hEvent = drainEvent;
    bool cancelled = false;
    if (!::ReadFile(handle, bytes.data(), waiting, nullptr, &drainRead)) {
        code = ::GetLastError();
        if (code != ERROR_IO_PENDING) {
            lose(lostReason(code));
            return false;
        }
        if (::WaitForSingleObject(drainEvent, kDrainWaitMs) != WAIT_OBJECT_0) {
            cancelled = true;
            if (!cancelAndWait(handle, &drainRead, drainEvent)) {
                lose(systemReason(ERROR_SEM_TIMEOUT));
                return false;
            }
        }
    }
    const Ended e = ended(handle, &drainRead, cancelled);
    kept.append(bytes.constData(), static_cast<qsizetype>(e.bytes));
    if (e.bytes > 0)
        emptyReads = 0;
    if (e.code != 0) {
        lose(lostReason(e.code));
        return false;
    }
    return true;
}

void SerialLine::listen(bool on)
{
    Private& p = *d;
    p.listening = on;
    if (!on || !isOpen() || p.readyPosted)
        return;
    if (!p.notifier) {
        p.notifier = new QWinEventNotifier(p.waitEvent);
        connect(p.notifier, &QWinEventNotifier::activated, this, [this] { d->onWaitEvent(); });
    }
    // A waiting byte that has come is announced by its event.
    if (p.waitPending)
        return;
    // Anything already here (a byte that came while nobody listened, what the driver holds) is
    // announced at once, from the event loop.
    if (p.kept.isEmpty()) {
        DWORD waiting = 0;
        DWORD code = 0;
        if (!inQueue(p.handle, &waiting, &code)) {
            p.lose(lostReason(code));
            return;
        }
        if (waiting == 0) {
            p.startWaiting();
            return;
        }
    }
    p.announceLater();
}

QByteArray SerialLine::takeAll()
{
    if (isOpen())
        d->collect();
    return std::exchange(d->kept, {});
}

QByteArray SerialLine::takeWaiting()
{
    // takeAll() already takes the waiting byte and everything the driver holds.
    return takeAll();
}

// --- Writing -----------------------------------------------------------------------------------

bool SerialLine::send(const QByteArray& bytes, int timeoutMs, QString* reason)
{
    Private& p = *d;
    if (!isOpen()) {
        if (reason)
            *reason = QStringLiteral("порт не открыт");
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    const auto remaining = [&deadline] {
        return deadline.isForever()
                   ? INFINITE
                   : static_cast<DWORD>(std::max<qint64>(0, deadline.remainingTime()));
    };
    const auto fail = [&](const QString& why) {
        close();
        if (reason)
            *reason = why;
        return false;
    };

    p.write = OVERLAPPED{};
    p.write.hEvent = p.writeEvent;
    const auto size = static_cast<DWORD>(bytes.size());
    if (!::WriteFile(p.handle, bytes.constData(), size, nullptr, &p.write)) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_IO_PENDING)
            return fail(lostReason(code));
        if (::WaitForSingleObject(p.writeEvent, remaining()) != WAIT_OBJECT_0) {
            // The bytes are the caller's: the driver must be done with them before we return.
            cancelAndWait(p.handle, &p.write, p.writeEvent);
            return fail(systemReason(ERROR_SEM_TIMEOUT));
        }
    }
    const Ended e = ended(p.handle, &p.write, false);
    if (e.code != 0)
        return fail(lostReason(e.code));
    if (e.bytes != size)
        return fail(systemReason(ERROR_SEM_TIMEOUT));

    // The driver has them; now until they are on the line. Polled: a line whose far end is gone
    // would hold a flush for good.
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(p.handle, &errors, &status))
            return fail(lostReason(::GetLastError()));
        if (status.cbOutQue == 0)
            return true;
        if (deadline.hasExpired())
            return fail(systemReason(ERROR_SEM_TIMEOUT));
        ::Sleep(1);
    }
}

// --- Closing -----------------------------------------------------------------------------------

void SerialLine::close()
{
    Private& p = *d;
    p.failurePosted = false;
    p.listening = false;
    if (!isOpen())
        return;
    if (p.notifier) {
        // It may be in the middle of telling us about its event: it goes once it is done.
        p.notifier->setEnabled(false);
        std::exchange(p.notifier, nullptr)->deleteLater();
    }
    if (p.waitPending) {
        // A byte that came before the close is still a reading.
        if (cancelAndWait(p.handle, &p.waitRead, p.waitEvent)) {
            const Ended e = ended(p.handle, &p.waitRead, true);
            if (e.code == 0 && e.bytes == 1)
                p.kept.append(static_cast<char>(p.waitByte));
        }
        p.waitPending = false;
    }
    // What the driver still holds has not left by now and never will: closing must not wait on
    // it. What it has handed on is left alone: purging then would cut the last bytes sent (STOP)
    // out of the UART's FIFO, or, under Wine on a pseudo-terminal, out of what the far end has
    // not read yet.
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(p.handle, &errors, &status) || status.cbOutQue > 0)
        ::PurgeComm(p.handle, PURGE_TXABORT | PURGE_TXCLEAR);
    ::CloseHandle(std::exchange(p.handle, INVALID_HANDLE_VALUE));
}

} // namespace piezon
