#pragma once

#include "gauge/serial_line.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <memory>

namespace piezon
{

// Opens a serial line on a thread of its own and hands it to this object's thread. Opening a
// device can block for seconds (a Bluetooth link connects inside the open), and the window must
// not freeze meanwhile. One try at a time; a try that is cancelled is forgotten, and a line it
// opens after all is closed at once, on its own thread. The next try starts only once the
// thread of a cancelled one is done with the device.
class LineOpener : public QObject
{
    Q_OBJECT
public:
    explicit LineOpener(QObject* parent = nullptr);
    ~LineOpener() override;

    bool busy() const { return m_attempt != nullptr; }
    // Starts a try (once a cancelled one has let go of its device); finished() follows on this
    // object's thread. Ignored while one is under way.
    void start(const QString& device, const LineSettings& settings);
    // Forgets the try under way; finished() does not follow.
    void cancel();

signals:
    // The line is this object's thread's by now (null if the device could not be opened).
    void finished(SerialLine::Opened& opened);

private:
    struct Attempt;
    void launch();
    void onDone(const std::shared_ptr<Attempt>& attempt);

    std::shared_ptr<Attempt> m_attempt;
    QPointer<QThread> m_worker; // the last try's thread, until it is done
};

} // namespace piezon
