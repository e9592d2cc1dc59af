// A pseudo-terminal standing in for the processor's serial line: the one
// place in the link layer that talks to the operating system directly.
// Whoever opens PATH (the panel, the tool) sees a serial device; this side
// reads their requests and writes the replies, optionally paced as a real
// 38,400-baud line would hand them over.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace tk770 {

class PtyListener : public QObject {
    Q_OBJECT
public:
    explicit PtyListener(QObject* parent = nullptr);
    ~PtyListener() override;  // closes the terminal and removes the link if it is still ours

    // Opens the pseudo-terminal and makes `linkPath` a symbolic link to it
    // ("-": no link). On failure `error` says why.
    bool open(const QString& linkPath, QString& error);
    QString name() const { return m_name; }  // /dev/pts/N

    // Up to `max` bytes that have arrived, without waiting. With a line rate
    // a byte counts as arrived only once the line would have delivered it.
    QByteArray read(qsizetype max);
    // While off, arrivals stay in the terminal (readyRead is not emitted).
    void setReadEnabled(bool enabled);

    // Queues bytes for the line. Replies nobody reads must not grow without
    // bound: beyond the queue limit the oldest bytes are lost.
    void write(const QByteArray& bytes);
    // 0: as fast as the terminal takes them.
    void setBytesPerSecond(int rate) { m_rate = rate; }
    qsizetype queued() const { return m_out.size(); }

    static constexpr qsizetype queue_limit = 64 * 1024;

signals:
    void readyRead();

private:
    void flush(qint64 limit);
    void onWritable();
    void onPaceTick();
    void onReadable();
    void releaseArrived();
    QByteArray readTerminal(qsizetype max);
    void close();

    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up between clients
    QString m_name;
    QString m_linkPath;
    bool m_linkCreated = false;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    bool m_readEnabled = true;
    bool m_readBackingOff = false;
    QByteArray m_out;

    int m_rate = 0;
    QTimer* m_paceTimer = nullptr;
    QElapsedTimer m_paceClock;
    qint64 m_paceSent = 0;

    // Paced input: bytes taken from the terminal wait here until the line,
    // one byte every 1/rate seconds, would have delivered them.
    QByteArray m_in;
    std::deque<double> m_inArrival;  // ms on m_lineClock, one per byte of m_in
    qsizetype m_inArrived = 0;       // leading bytes of m_in that have arrived
    double m_lineFreeMs = 0;         // when the incoming line finishes its last byte
    QElapsedTimer m_lineClock;
    QTimer* m_arrivalTimer = nullptr;
};

}  // namespace tk770
