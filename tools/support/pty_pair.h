#pragma once

#include <QByteArray>
#include <QString>

namespace piezon::testing
{

// A pseudo-terminal pair standing in for the serial line: the program opens slavePath(), the test
// or benchmark plays the gauge on the master side. Both ends are raw, so every byte value passes
// unchanged.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes all bytes to the line (the gauge speaking).
    bool write(const QByteArray& bytes);
    // Everything the program has sent so far, waiting up to timeoutMs for the first byte and
    // then collecting until the line has been quiet for quietMs.
    QByteArray readAvailable(int timeoutMs = 0, int quietMs = 50);
    // The far end disappears, as when a wireless link drops.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the line survives between the program's sessions
    QString m_slavePath;
};

} // namespace piezon::testing
