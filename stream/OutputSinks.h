// Where the receiver's output goes: a UDP destination (one datagram per
// write), a TCP server that sends every write to each connected client, and
// the recording file.
#pragma once

#include "stream/RecordFile.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QEventLoop;
class QObject;
class QTcpServer;
class QTcpSocket;
class QUdpSocket;

// Threads. The sockets and the TCP server live on the sinks' own thread,
// which runs a Qt event loop and is the only thread that ever touches them
// (Qt sockets may only be used on the thread they belong to).
// writeToSinks() may be called from any thread (the stage threads that
// produce the stream): it copies the bytes into a hand-over queue under
// `sinkMutex` and, unless a wake-up is already on its way, writes to an
// eventfd that the sink thread's event loop watches; it never waits for the
// network. The sink thread takes the whole queue at once and writes it out
// in order: a datagram per write to the UDP socket, the bytes appended and
// flushed to every TCP client. applyNetMode() hands its socket work to the
// sink thread through a second queue under the same mutex and waits on a
// condition variable until it has run (binding, connecting a UDP socket to a
// literal address and listening return at once). Everything that crosses
// threads does so under `sinkMutex`, never through Qt's event posting.
// The sink thread is a plain std::thread (Qt adopts it and gives it an event
// dispatcher); the sinks need a QCoreApplication.
//
// Memory. The hand-over queue holds at most kMaxPendingBytes; writes beyond
// that are dropped (the network cannot keep up) and logged once per episode.
// Each TCP client may have at most `clientBacklog` bytes waiting in its socket
// beyond what the kernel took; a client that lets more pile up (it stopped
// reading) is closed with "TCP Socket backlog full [ addr:port ]" followed by
// the usual "TCP Socket closed [ addr:port ]", and the others go on receiving.
// Anything a client sends is read and discarded.
//
// Recording. The file has a lock of its own (RecordFile): every write and the
// close take it, so it is never closed while a stage writes to it.
// The network mode chooser's entries, in its order.
enum class NetworkMode { Off = 0, Udp = 1, TcpServer = 2 };

class OutputSinks {
public:

    static constexpr size_t kDefaultClientBacklog = size_t(4) << 20;
    static constexpr size_t kMaxPendingBytes = size_t(32) << 20;

    // An error the user must see: a title and a text (the window shows a
    // warning box; without a reporter the text is logged).
    using ErrorReport = std::function<void(const QString& title, const QString& text)>;

    explicit OutputSinks(size_t clientBacklog = kDefaultClientBacklog);
    // Switches the network output off, closes the recording, ends the thread.
    ~OutputSinks();
    OutputSinks(const OutputSinks&) = delete;
    OutputSinks& operator=(const OutputSinks&) = delete;

    void setErrorReport(ErrorReport report);

    // Logs "Net Mode changed to <mode>", then switches to mode 0 (off), 1 (UDP
    // to `address`:`port`, port 1 … 65535) or 2 (TCP server listening on
    // `address`:`port`; port 0 picks a free one). Applying a mode again
    // replaces its socket. The address must be a literal IPv4 or IPv6
    // address. On an invalid address or a socket that cannot be set up the
    // error is reported under "Network Settings", the output is switched off
    // (which logs "Net Mode changed to 0" again) and 0 is returned; otherwise
    // the mode now in effect. Call from one thread at a time, not from a
    // stage thread that holds the stream's locks.
    NetworkMode applyNetMode(NetworkMode mode, const QString& address, int port);
    NetworkMode netMode() const;
    // The port the TCP server listens on (0 when not listening).
    uint16_t tcpServerPort() const;
    size_t tcpClientCount() const;

    // One write: a transport-stream block or a GSE PDU. To the network when
    // it is on, and to the recording when it records the transport stream.
    void writeToSinks(const uint8_t* bytes, size_t length);

    // Bytes handed over and not yet passed to the sockets.
    size_t pendingBytes() const;
    // Bytes taken for the network since construction (what the sockets were
    // or will be given).
    uint64_t networkBytes() const;

    RecordFile& recording() { return record; }

private:
    struct Client {
        QTcpSocket* socket;
        QString peer;   // "addr:port", kept for the closing line
    };

    // Runs `work` on the sink thread and waits until it has run.
    void runOnSinkThread(const std::function<void()>& work);
    void wakeUp();
    // On the sink thread.
    void runSinkThread();
    void serviceQueues();
    void writeOut(const std::deque<QByteArray>& batch);
    void acceptClients();
    void clientClosed(QTcpSocket* socket);
    void closeUdp();
    void stopTcpService();
    bool openUdp(const QString& address, int port);
    bool listenTcp(const QString& address, int port);
    void updateNetActive();
    void report(const QString& text);

    const size_t clientBacklog;
    ErrorReport errorReport;
    std::thread thread;
    int wakeFd = -1;   // eventfd: work is waiting

    // Sink thread only.
    QEventLoop* eventLoop = nullptr;
    QObject* context = nullptr;   // receiver context of the socket connections
    QUdpSocket* udpSocket = nullptr;
    QTcpServer* tcpServer = nullptr;
    std::vector<Client> tcpClients;

    // Guards the hand-over between the writers and the sink thread.
    mutable std::mutex sinkMutex;
    std::deque<QByteArray> pending;
    std::deque<std::function<void()>> tasks;
    uint64_t networkTotal = 0;   // under sinkMutex
    uint64_t tasksQueued = 0;
    uint64_t tasksRun = 0;
    std::condition_variable tasksFinished;
    size_t pendingTotal = 0;       // bytes in `pending`
    size_t drainingTotal = 0;      // bytes the sink thread is writing out
    bool wakeUpPosted = false;
    bool netActive = false;       // a UDP socket or at least one TCP client
    bool overflowing = false;     // writes are being dropped
    NetworkMode mode = NetworkMode::Off;
    uint16_t listenPort = 0;
    size_t clientCount = 0;

    RecordFile record;
};
