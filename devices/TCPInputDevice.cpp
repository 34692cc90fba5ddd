#include "devices/TCPInputDevice.h"

#include "core/Log.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <cmath>

namespace {

// Bound on what the socket buffers ahead of the handler; beyond it TCP flow
// control holds the server back.
constexpr qint64 kReadBufferBytes = 4 << 20;

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
    : socket(std::make_unique<QTcpSocket>())
{
    deviceName = "TCP Input Device";
    socket->setReadBufferSize(kReadBufferBytes);
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

    readConnection = QObject::connect(
        socket.get(), &QTcpSocket::readyRead, socket.get(),
        [this, callback]() { readAvailable(callback); }, Qt::DirectConnection);
    if (disconnectHandler)
        closeConnection = QObject::connect(socket.get(), &QTcpSocket::disconnected, socket.get(),
                                           [this]() { disconnectHandler(); }, Qt::QueuedConnection);
    // Data that came with the connection itself.
    if (socket->bytesAvailable() > 0)
        readAvailable(callback);
    return false;
}

void TCPInputDevice::readAvailable(const SampleCallback& callback)
{
    const size_t step = iqSampleBytes(sampleFormat);
    // Complete the sample split over the last read first: TCP is a byte stream,
    // and dropping those bytes would swap I and Q from then on.
    if (!partial.isEmpty()) {
        partial.append(socket->read(qint64(step) - partial.size()));
        if (size_t(partial.size()) < step)
            return;
        deliverIqSamples(reinterpret_cast<const uint8_t*>(partial.constData()), step, sampleFormat, callback);
        partial.clear();
    }
    const QByteArray data = socket->readAll();
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const size_t used = deliverIqSamples(bytes, size_t(data.size()), sampleFormat, callback);
    partial = data.mid(int(used));
}

void TCPInputDevice::close()
{
    QObject::disconnect(readConnection);
    readConnection = QMetaObject::Connection();
    QObject::disconnect(closeConnection);
    closeConnection = QMetaObject::Connection();
    socket->close();
    partial.clear();
}
