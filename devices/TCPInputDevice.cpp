#include "devices/TCPInputDevice.h"

#include "core/Log.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace {

// Bound on what the socket buffers ahead of the handler. While the handler
// reads (flow control allows), this is what the kernel's buffers and this
// one hold; while it pauses, TCP flow control holds the server back.
constexpr qint64 kReadBufferBytes = 4 << 20;
constexpr int kResumePollMs = 2;

} // namespace

uint64_t sampleRateFromMHz(double mhz)
{
    // The typed value has at most six decimals, so the rate is a whole number
    // of Hz; rounding keeps 2.000003 MHz from becoming 2000002 Hz.
    if (!(mhz > 0))
        return 0;
    return uint64_t(std::llround(mhz * 1e6));
}

TCPInputDevice::TCPInputDevice()
    : inputTasks(std::make_unique<ThreadTasks>()), ownerTasks(std::make_unique<ThreadTasks>()),
      socket(std::make_unique<QTcpSocket>()),
      resumeTimer(std::make_unique<QTimer>()), connectTimer(std::make_unique<QTimer>())
{
    deviceName = "TCP Input Device";
    socket->setReadBufferSize(kReadBufferBytes);
    resumeTimer->setSingleShot(true);
    resumeTimer->setInterval(kResumePollMs);
    QObject::connect(resumeTimer.get(), &QTimer::timeout, [this]() { readAvailable(); });
    connectTimer->setSingleShot(true);
    QObject::connect(connectTimer.get(), &QTimer::timeout, [this]() {
        if (!pending)
            return;
        socket->abort();
        reportError(connectFailure(QAbstractSocket::SocketTimeoutError, QString()));
        finishConnecting(false);
    });
}

TCPInputDevice::~TCPInputDevice()
{
    close();
    if (!inputThread)
        return;
    // The socket and its timers go on the thread they live on.
    onInputThread([this]() {
        resumeTimer.reset();
        connectTimer.reset();
        socket.reset();
    });
    inputThread->quit();
    inputThread->wait();
}

void TCPInputDevice::onInputThread(const std::function<void()>& work)
{
    if (!inputThread) {
        inputThread = std::make_unique<QThread>();
        inputThread->setObjectName("TCP input");
        socket->moveToThread(inputThread.get());
        resumeTimer->moveToThread(inputThread.get());
        connectTimer->moveToThread(inputThread.get());
        inputTasks->moveToThread(inputThread.get());
        inputThread->start();
    }
    inputTasks->run(work);
}

void TCPInputDevice::reportError(const QString& text)
{
    // The reporter is read on the thread that made the device, which may
    // set another while the input thread works.
    auto report = [this, text]() {
        if (errorReporter)
            errorReporter("Network Settings", text);
        else
            LogLine() << text.toStdString();
    };
    if (inputThread && QThread::currentThread() == inputThread.get())
        ownerTasks->post(report);
    else
        report();
}

QString TCPInputDevice::connectFailure(QAbstractSocket::SocketError error, const QString& why) const
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return "TCP connection refused. " + target;
    case QAbstractSocket::SocketTimeoutError:
        return QString("TCP connection timed out after %1 s. ").arg(connectTimeoutMs / 1000.0) + target;
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QString("TCP Socket couldn't be created (%1). ").arg(why) + target;
    default:
        return QString("TCP connection failed (%1). ").arg(why) + target;
    }
}

bool TCPInputDevice::open(SampleCallback& callback)
{
    const std::optional<TcpInputSettings> settings =
        settingsPrompt ? settingsPrompt() : std::optional<TcpInputSettings>(TcpInputSettings());
    if (!settings)
        return true;

    sampleRate = sampleRateFromMHz(settings->bandwidthMHz);
    openedFormat = settings->format;

    QHostAddress address;
    if (!address.setAddress(settings->address)) {
        reportError(QString("'%1' is not a valid IP address!").arg(settings->address));
        return true;
    }

    close();
    const bool waitForIt = !connectHandler;
    QString failure;
    onInputThread([&]() {
        stream.reset(settings->format);
        target = QString("addr: %1, port: %2").arg(settings->address).arg(settings->port);
        connectionCallback = callback;
        peerClosed = false;
        endReported = false;
        socket->connectToHost(address, quint16(settings->port), QIODevice::ReadWrite);
        if (!waitForIt) {
            pending = true;
            connectedConnection = QObject::connect(socket.get(), &QTcpSocket::connected, socket.get(),
                                                   [this]() { finishConnecting(true); });
            errorConnection = QObject::connect(socket.get(), &QAbstractSocket::errorOccurred, socket.get(),
                                               [this](QAbstractSocket::SocketError error) {
                                                   if (!pending)
                                                       return;
                                                   const QString why = socket->errorString();
                                                   socket->abort();
                                                   reportError(connectFailure(error, why));
                                                   finishConnecting(false);
                                               });
            connectTimer->start(connectTimeoutMs);
            return;
        }
        if (!socket->waitForConnected(connectTimeoutMs)) {
            const QAbstractSocket::SocketError error = socket->error();
            const QString why = socket->errorString();
            socket->abort();
            connectionCallback = nullptr;
            failure = connectFailure(error, why);
            return;
        }
        startReading();
    });
    if (failure.isEmpty())
        return false;
    reportError(failure);
    return true;
}

void TCPInputDevice::finishConnecting(bool connected)
{
    pending = false;
    connectTimer->stop();
    QObject::disconnect(connectedConnection);
    QObject::disconnect(errorConnection);
    if (connected)
        startReading();
    else
        connectionCallback = nullptr;
    ownerTasks->post([this, connected]() {
        if (connectHandler)
            connectHandler(connected);
    });
}

void TCPInputDevice::startReading()
{
    readConnection = QObject::connect(
        socket.get(), &QTcpSocket::readyRead, socket.get(), [this]() { readAvailable(); }, Qt::DirectConnection);
    // What the server sent before it hung up is still in the socket's
    // buffer: it is delivered first, then the end is reported.
    closeConnection = QObject::connect(socket.get(), &QTcpSocket::disconnected, socket.get(),
                                       [this]() {
                                           peerClosed = true;
                                           readAvailable();
                                       },
                                       Qt::QueuedConnection);
    // Data that came with the connection itself.
    if (socket->bytesAvailable() > 0)
        readAvailable();
}

void TCPInputDevice::readAvailable()
{
    if (!connectionCallback)
        return;   // closed meanwhile
    while (socket->bytesAvailable() > 0) {
        if (flowReady && !flowReady()) {
            resumeTimer->start();
            return;
        }
        // TCP is a byte stream: a sample split over two reads is joined.
        readBuffer.resize(size_t(kReadChunkBytes));
        const qint64 got = socket->read(reinterpret_cast<char*>(readBuffer.data()), kReadChunkBytes);
        if (got <= 0)
            break;
        stream.pushRuns(readBuffer.data(), size_t(got),
                        [this](const int16_t* iq, size_t count) { deliver(connectionCallback, iq, count); });
    }
    if (peerClosed && !endReported) {
        endReported = true;
        ownerTasks->post([this]() {
            if (disconnectHandler)
                disconnectHandler();
        });
    }
}

void TCPInputDevice::close()
{
    if (inputThread)
        onInputThread([this]() { closeSocket(); });
}

void TCPInputDevice::closeSocket()
{
    if (pending) {
        pending = false;
        connectTimer->stop();
        QObject::disconnect(connectedConnection);
        QObject::disconnect(errorConnection);
        socket->abort();
    }
    QObject::disconnect(readConnection);
    readConnection = QMetaObject::Connection();
    QObject::disconnect(closeConnection);
    closeConnection = QMetaObject::Connection();
    resumeTimer->stop();
    connectionCallback = nullptr;
    socket->close();
    stream.reset(stream.sampleFormat());
}
