#include "devices/TCPInputDevice.h"

#include "core/Log.h"

#include <QHostAddress>
#include <QTcpSocket>
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
    : socket(std::make_unique<QTcpSocket>()), resumeTimer(std::make_unique<QTimer>())
{
    deviceName = "TCP Input Device";
    socket->setReadBufferSize(kReadBufferBytes);
    resumeTimer->setSingleShot(true);
    resumeTimer->setInterval(kResumePollMs);
    QObject::connect(resumeTimer.get(), &QTimer::timeout, [this]() { readAvailable(); });
}

TCPInputDevice::~TCPInputDevice()
{
    close();
}

void TCPInputDevice::reportError(const QString& text)
{
    if (errorReporter)
        errorReporter("Network Settings", text);
    else
        LogLine() << text.toStdString();
}

bool TCPInputDevice::open(SampleCallback& callback)
{
    const std::optional<TcpInputSettings> settings =
        settingsPrompt ? settingsPrompt() : std::optional<TcpInputSettings>(TcpInputSettings());
    if (!settings)
        return true;

    sampleRate = sampleRateFromMHz(settings->bandwidthMHz);
    sampleFormat = settings->format;

    QHostAddress address;
    if (!address.setAddress(settings->address)) {
        reportError(QString("'%1' is not a valid IP address!").arg(settings->address));
        return true;
    }

    close();
    partial.clear();
    socket->connectToHost(address, quint16(settings->port), QIODevice::ReadWrite);
    if (!socket->waitForConnected(connectTimeoutMs)) {
        socket->abort();
        reportError(QString("TCP Socket couldn't be created. addr: %1, port: %2")
                        .arg(settings->address)
                        .arg(settings->port));
        return true;
    }

    deliver = callback;
    peerClosed = false;
    endReported = false;
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
    return false;
}

void TCPInputDevice::readAvailable()
{
    if (!deliver)
        return;   // closed meanwhile
    const size_t step = iqSampleBytes(sampleFormat);
    while (socket->bytesAvailable() > 0) {
        if (flowReady && !flowReady()) {
            resumeTimer->start();
            return;
        }
        // Complete the sample split over the last read first: TCP is a byte
        // stream, and dropping those bytes would swap I and Q from then on.
        if (!partial.isEmpty()) {
            partial.append(socket->read(qint64(step) - partial.size()));
            if (size_t(partial.size()) < step)
                continue;
            deliverIqSamples(reinterpret_cast<const uint8_t*>(partial.constData()), step, sampleFormat, deliver);
            partial.clear();
        }
        const QByteArray data = socket->read(kReadChunkBytes);
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
        const size_t used = deliverIqSamples(bytes, size_t(data.size()), sampleFormat, deliver);
        partial = data.mid(int(used));
    }
    if (peerClosed && !endReported) {
        endReported = true;
        if (disconnectHandler)
            disconnectHandler();
    }
}

void TCPInputDevice::close()
{
    QObject::disconnect(readConnection);
    readConnection = QMetaObject::Connection();
    QObject::disconnect(closeConnection);
    closeConnection = QMetaObject::Connection();
    resumeTimer->stop();
    deliver = nullptr;
    socket->close();
    partial.clear();
}
