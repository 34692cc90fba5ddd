// IQ samples from a TCP server: headerless interleaved I, Q in one of three formats.
#pragma once

#include "devices/InputDevice.h"
#include "devices/SampleFormat.h"

#include <QAbstractSocket>
#include <QMetaObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;
class QTimer;

// What the user enters each time the device is opened; the initial values
// are those every prompt starts from.
struct TcpInputSettings {
    QString address = "127.0.0.1";   // a literal IPv4 or IPv6 address
    int port = 7777;
    double bandwidthMHz = 1.0;       // the sample rate, in MHz
    IqFormat format = IqFormat::S16; // S8, S16 or F32
};

// Connects as a client and feeds every received sample to the callback, on
// the thread the socket lives in (the GUI thread). The device itself has no
// widgets: the settings come from a prompt and errors go to a reporter,
// which the window points at its dialog and message boxes.
class TCPInputDevice : public InputDevice {
public:
    // Returns the settings to connect with, or nothing when the user cancels.
    using SettingsPrompt = std::function<std::optional<TcpInputSettings>()>;
    // Shows an error the user must see: a title and a text.
    using ErrorReporter = std::function<void(const QString& title, const QString& text)>;

    static constexpr int kConnectTimeoutMs = 5000;

    TCPInputDevice();
    ~TCPInputDevice() override;

    // Without a prompt, open() uses the initial settings; without a
    // reporter, errors are logged.
    void setSettingsPrompt(SettingsPrompt prompt) { settingsPrompt = std::move(prompt); }
    void setErrorReporter(ErrorReporter reporter) { errorReporter = std::move(reporter); }
    void setConnectTimeoutMs(int ms) { connectTimeoutMs = ms; }
    // With a handler, open() does not wait for the connection: it returns
    // at once as opened, the samples flow once the server answers, and the
    // handler hears (on the socket's thread) whether it did: true when
    // connected, false when refused or timed out (the error reported first).
    // Without one, open() waits and says whether it connected.
    void setConnectHandler(std::function<void(bool connected)> handler) { connectHandler = std::move(handler); }
    bool connecting() const { return pending; }
    // Called (on the socket's thread) once the server has ended the
    // connection and every whole sample it sent has been delivered.
    void setDisconnectHandler(std::function<void()> handler) { disconnectHandler = std::move(handler); }
    // Reading pauses while `ready` says false and resumes when it says true
    // again (asked every few milliseconds meanwhile); the socket's buffer
    // then fills and TCP flow control holds the sender back. Without it
    // everything received is delivered at once.
    void setFlowControl(std::function<bool()> ready) { flowReady = std::move(ready); }

    std::string getTypeName() const override { return "TCPInputDevice"; }
    bool open(SampleCallback& callback) override;
    void close() override;
    std::vector<uint64_t> getSampleRates() override { return {sampleRate}; }
    bool hasFilterBandwidth() override { return false; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 0; }
    unsigned getMinFrequency() override { return 0; }
    unsigned getMaxFrequency() override { return 2150000; }

    IqFormat format() const { return stream.sampleFormat(); }

    // Bytes read from the socket per delivery step: flow control is asked
    // again after each.
    static constexpr qint64 kReadChunkBytes = 1 << 16;

private:
    void readAvailable();
    void reportError(const QString& text);
    // Said as it happened: a server that refuses, one that does not answer
    // in time, a network that cannot be reached, and a socket the system
    // would not make at all are different things to fix.
    void reportConnectFailure(QAbstractSocket::SocketError error, const QString& why);
    void startReading();
    void finishConnecting(bool connected);

    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<QTimer> resumeTimer;   // asks flow control again while paused
    std::unique_ptr<QTimer> connectTimer;  // bounds an asynchronous connect
    std::function<void(bool)> connectHandler;
    bool pending = false;                  // an asynchronous connect under way
    QString target;                        // "addr: …, port: …" for the messages
    QMetaObject::Connection connectedConnection;
    QMetaObject::Connection errorConnection;
    SampleCallback deliver;                // the callback of the open connection
    std::function<bool()> flowReady;
    bool peerClosed = false;
    bool endReported = false;
    SettingsPrompt settingsPrompt;
    ErrorReporter errorReporter;
    int connectTimeoutMs = kConnectTimeoutMs;
    QMetaObject::Connection readConnection;
    QMetaObject::Connection closeConnection;
    std::function<void()> disconnectHandler;
    IqByteStream stream;   // joins samples split over two reads
    std::vector<uint8_t> readBuffer;   // one read's bytes, kept between reads
};

// The sample rate in Hz for a rate typed in MHz.
uint64_t sampleRateFromMHz(double mhz);
