#include "stream/OutputSinks.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>

#include <cerrno>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kSettingsTitle = QStringLiteral("Network Settings");

QString peerText(const QTcpSocket& socket)
{
    return socket.peerAddress().toString() + ":" + QString::number(socket.peerPort());
}

} // namespace

OutputSinks::OutputSinks(size_t clientBacklog) : clientBacklog(clientBacklog)
{
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread = std::thread([this] { runSinkThread(); });
    // Back only once the thread's event loop runs: what Qt set up for the
    // thread (its event dispatcher, shared plugin and thread lists) is
    // complete before the caller goes on using Qt.
    runOnSinkThread([] {});
}

OutputSinks::~OutputSinks()
{
    runOnSinkThread([this] {
        closeUdp();
        stopTcpService();
        eventLoop->quit();
    });
    thread.join();
    record.close();
    ::close(wakeFd);
}

void OutputSinks::runSinkThread()
{
    QEventLoop loop;
    QObject owner;   // context of every connection made on this thread
    eventLoop = &loop;
    context = &owner;
    // The event counter stays readable until it is read, so work queued
    // before the notifier existed is seen at once.
    QSocketNotifier wake(wakeFd, QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &owner, [this] {
        uint64_t count = 0;
        if (::read(wakeFd, &count, sizeof count) < 0 && errno != EAGAIN)
            LogLine() << "OutputSinks: wake-up read failed";
        serviceQueues();
    });
    loop.exec();
    // Sockets closed on the way out are deleted here, not by a loop that no
    // longer runs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    context = nullptr;
    eventLoop = nullptr;
}

void OutputSinks::wakeUp()
{
    const uint64_t one = 1;
    if (::write(wakeFd, &one, sizeof one) < 0 && errno != EAGAIN)
        LogLine() << "OutputSinks: wake-up failed";
}

void OutputSinks::serviceQueues()
{
    for (;;) {
        std::deque<std::function<void()>> work;
        std::deque<QByteArray> batch;
        {
            std::lock_guard<std::mutex> lock(sinkMutex);
            work.swap(tasks);
            batch.swap(pending);
            drainingTotal = pendingTotal;
            pendingTotal = 0;
            wakeUpPosted = false;
        }
        if (work.empty() && batch.empty())
            return;
        for (const std::function<void()>& task : work) {
            task();
            std::lock_guard<std::mutex> lock(sinkMutex);
            ++tasksRun;
            tasksFinished.notify_all();
        }
        writeOut(batch);
        std::lock_guard<std::mutex> lock(sinkMutex);
        drainingTotal = 0;
    }
}

void OutputSinks::runOnSinkThread(const std::function<void()>& work)
{
    if (std::this_thread::get_id() == thread.get_id()) {
        work();
        return;
    }
    std::unique_lock<std::mutex> lock(sinkMutex);
    tasks.push_back(work);
    const uint64_t ticket = ++tasksQueued;
    const bool wake = !wakeUpPosted;
    wakeUpPosted = true;
    lock.unlock();
    if (wake)
        wakeUp();
    lock.lock();
    tasksFinished.wait(lock, [&] { return tasksRun >= ticket; });
}

void OutputSinks::setErrorReport(ErrorReport report)
{
    errorReport = std::move(report);
}

void OutputSinks::report(const QString& text)
{
    if (errorReport)
        errorReport(kSettingsTitle, text);
    else
        LogLine() << text.toStdString();
}

NetworkMode OutputSinks::applyNetMode(NetworkMode newMode, const QString& address, int port)
{
    LogLine() << "Net Mode changed to " << int(newMode);
    if (newMode != NetworkMode::Off && QHostAddress(address).isNull()) {
        report(QStringLiteral("'%1' is not a valid IP address!").arg(address));
        return applyNetMode(NetworkMode::Off, address, port);
    }

    bool ok = true;
    runOnSinkThread([&] {
        // Whatever ran before goes first, also when the same mode is applied
        // again with a new address.
        closeUdp();
        stopTcpService();
        if (newMode == NetworkMode::Udp)
            ok = openUdp(address, port);
        else if (newMode == NetworkMode::TcpServer)
            ok = listenTcp(address, port);
        std::lock_guard<std::mutex> lock(sinkMutex);
        mode = ok ? newMode : NetworkMode::Off;
        listenPort = ok && newMode == NetworkMode::TcpServer ? tcpServer->serverPort() : 0;
    });
    if (ok)
        return newMode;
    if (newMode == NetworkMode::Udp)
        report(QStringLiteral("UDP Socket couldn't be created. addr: %1, port: %2").arg(address).arg(port));
    else
        report(QStringLiteral("TCP Listening Socket couldn't be created. addr: %1, port: %2").arg(address).arg(port));
    return applyNetMode(NetworkMode::Off, address, port);
}

NetworkMode OutputSinks::netMode() const
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return mode;
}

uint16_t OutputSinks::tcpServerPort() const
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return listenPort;
}

size_t OutputSinks::tcpClientCount() const
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return clientCount;
}

size_t OutputSinks::pendingBytes() const
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return pendingTotal + drainingTotal;
}

uint64_t OutputSinks::networkBytes() const
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return networkTotal;
}

void OutputSinks::writeToSinks(const uint8_t* bytes, size_t length)
{
    bool wake = false;
    bool dropped = false;
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        if (netActive && length > 0) {
            if (pendingTotal + length <= kMaxPendingBytes) {
                pending.emplace_back(reinterpret_cast<const char*>(bytes), int(length));
                pendingTotal += length;
                networkTotal += length;
                wake = !wakeUpPosted;
                wakeUpPosted = true;
                overflowing = false;
            } else {
                dropped = !overflowing;
                overflowing = true;
            }
        }
    }
    if (wake)
        wakeUp();
    if (dropped)
        LogLine() << "Network output cannot keep up, dropping data";
    record.write(RecordType::TransportStream, bytes, length);
}

void OutputSinks::writeOut(const std::deque<QByteArray>& batch)
{
    // Closing a socket takes it off `tcpClients` at once (its deletion waits
    // for the event loop), so the writes go through a snapshot.
    const std::vector<Client> clients = tcpClients;
    std::vector<const Client*> tooSlow;
    for (const QByteArray& chunk : batch) {
        if (udpSocket != nullptr)
            udpSocket->write(chunk);   // one datagram; errors are ignored
        for (const Client& client : clients) {
            // A client may have gone during this batch.
            if (!client.socket->isOpen() || std::find(tooSlow.begin(), tooSlow.end(), &client) != tooSlow.end())
                continue;
            if (size_t(client.socket->bytesToWrite()) + size_t(chunk.size()) > clientBacklog) {
                tooSlow.push_back(&client);
            } else {
                client.socket->write(chunk);
                client.socket->flush();   // to the kernel now, as far as it takes it
            }
        }
    }
    for (const Client* client : tooSlow) {
        LogLine() << "TCP Socket backlog full [ " << client->peer.toStdString() << " ]";
        // Reset rather than a FIN that would wait behind the unread data
        // until the kernel gives up on the peer.
        const linger reset{1, 0};
        ::setsockopt(int(client->socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        client->socket->abort();
        clientClosed(client->socket);   // unless "disconnected" already did
    }
}

void OutputSinks::acceptClients()
{
    while (tcpServer != nullptr && tcpServer->hasPendingConnections()) {
        QTcpSocket* socket = tcpServer->nextPendingConnection();
        const QString peer = peerText(*socket);
        LogLine() << "TCP Socket accepted [ " << peer.toStdString() << " ]";
        QObject::connect(socket, &QTcpSocket::disconnected, context, [this, socket] { clientClosed(socket); });
        // Nothing is taken from the clients; what they send is thrown away
        // so that it cannot pile up.
        QObject::connect(socket, &QTcpSocket::readyRead, context, [socket] { socket->readAll(); });
        tcpClients.push_back({socket, peer});
        updateNetActive();
    }
}

void OutputSinks::clientClosed(QTcpSocket* socket)
{
    const auto it = std::find_if(tcpClients.begin(), tcpClients.end(),
                                 [socket](const Client& c) { return c.socket == socket; });
    if (it == tcpClients.end())
        return;
    LogLine() << "TCP Socket closed [ " << it->peer.toStdString() << " ]";
    tcpClients.erase(it);
    socket->disconnect(context);
    socket->deleteLater();
    updateNetActive();
}

void OutputSinks::closeUdp()
{
    if (udpSocket == nullptr)
        return;
    udpSocket->close();
    delete udpSocket;
    udpSocket = nullptr;
    updateNetActive();
}

void OutputSinks::stopTcpService()
{
    if (tcpServer == nullptr)
        return;
    tcpServer->close();
    while (tcpServer->hasPendingConnections())
        tcpServer->nextPendingConnection()->abort();
    // Closing a client runs clientClosed(), which takes it off the list.
    const std::vector<Client> clients = tcpClients;
    for (const Client& client : clients) {
        client.socket->abort();
        clientClosed(client.socket);
    }
    delete tcpServer;   // also the sockets still parented to it
    tcpServer = nullptr;
    updateNetActive();
}

bool OutputSinks::openUdp(const QString& address, int port)
{
    if (port < 1 || port > 65535)
        return false;
    udpSocket = new QUdpSocket;
    udpSocket->connectToHost(address, quint16(port), QIODevice::WriteOnly, QAbstractSocket::AnyIPProtocol);
    // An IP literal connects at once (no lookup); a UDP socket that could not
    // connect is of no use.
    if (!udpSocket->isValid() || udpSocket->state() != QAbstractSocket::ConnectedState) {
        delete udpSocket;
        udpSocket = nullptr;
        return false;
    }
    updateNetActive();
    return true;
}

bool OutputSinks::listenTcp(const QString& address, int port)
{
    if (port < 0 || port > 65535)
        return false;
    tcpServer = new QTcpServer;
    QObject::connect(tcpServer, &QTcpServer::newConnection, context, [this] { acceptClients(); });
    if (!tcpServer->listen(QHostAddress(address), quint16(port))) {
        delete tcpServer;
        tcpServer = nullptr;
        return false;
    }
    return true;
}

void OutputSinks::updateNetActive()
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    netActive = udpSocket != nullptr || !tcpClients.empty();
    clientCount = tcpClients.size();
    if (!netActive) {
        // Nobody to send to: what was waiting is dropped.
        pending.clear();
        pendingTotal = 0;
    }
}
