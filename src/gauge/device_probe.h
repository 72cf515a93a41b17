#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace piezon
{

// Tries to open a serial device on a thread of its own. Opening a device can block for seconds
// (a Bluetooth link being paged), and the window must not freeze meanwhile. A device that opens
// is held open (where the system lets it be opened twice) until release() or the next try, so
// that a link that was hard to establish is still up when the port is opened for real.
class DeviceProbe : public QObject
{
    Q_OBJECT
public:
    explicit DeviceProbe(QObject* parent = nullptr);
    ~DeviceProbe() override;

    bool busy() const { return m_busy; }
    // Starts a try; finished() follows on this object's thread. Ignored while one is under way.
    void start(const QString& path);
    // Forgets the try under way (its result is thrown away) and lets go of a held device.
    void cancel();
    // Lets go of the device held after a successful try.
    void release();

signals:
    void finished(bool opened);

private:
    struct Attempt;
    void onDone(const std::shared_ptr<Attempt>& attempt);

    std::shared_ptr<Attempt> m_attempt;
    qintptr m_held = -1; // what the try holds open, if anything
    bool m_busy = false;
};

} // namespace piezon
