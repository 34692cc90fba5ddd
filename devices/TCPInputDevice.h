// IQ samples from a TCP server: headerless interleaved I, Q in one of three formats.
#pragma once

#include "devices/InputDevice.h"
#include "devices/SampleFormat.h"
#include "devices/ThreadTasks.h"

#include <QAbstractSocket>
#include <QMetaObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;
class QThread;
class QTimer;

// What the user enters each time the device is opened; the initial values
// are those every prompt starts from.
struct TcpInputSettings {
    QString address = "127.0.0.1";   // a literal IPv4 or IPv6 address
    int port = 7777;
    double bandwidthMHz = 1.0;       // the sample rate, in MHz
    IqFormat format = IqFormat::S16; // S8, S16 or F32
};

// Connects as a client and feeds every received sample to the callback. The
// socket lives on an input thread of the device's own, started at the first
// open(): reading, converting and handing on the samples never wait for the
// thread that opened it (the GUI thread), nor the other way round. The device
// itself has no widgets: the settings come from a prompt and errors go to a
// reporter, which the window points at its dialog and message boxes.
class TCPInputDevice : public InputDevice {
public:
    // Returns the settings to connect with, or nothing when the user cancels.
    using SettingsPrompt = std::function<std::optional<TcpInputSettings>()>;
    // Shows an error the user must see: a title and a text. Called on the
    // thread that made the device (an error found on the input thread is
    // posted there: that thread runs an event loop).
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
    // handler hears (on the thread that made the device, which runs an
    // event loop) whether it did: true when connected, false when refused or
    // timed out (the error reported first).
    // Without one, open() waits and says whether it connected.
    void setConnectHandler(std::function<void(bool connected)> handler) { connectHandler = std::move(handler); }
    bool connecting() const { return pending; }
    // Called (on the thread that made the device) once the server has ended
    // the connection and every whole sample it sent has been delivered.
    void setDisconnectHandler(std::function<void()> handler) { disconnectHandler = std::move(handler); }
    // Reading pauses while `ready` says false and resumes when it says true
    // again (asked every few milliseconds meanwhile, on the input thread);
    // the socket's buffer then fills and TCP flow control holds the sender
    // back. Without it everything received is delivered at once. The
    // handlers and the flow control are set before open().
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

    IqFormat format() const { return openedFormat; }

    // Bytes read from the socket per delivery step: flow control is asked
    // again after each.
    static constexpr qint64 kReadChunkBytes = 1 << 16;

private:
    // Runs `work` on the input thread (started if need be) and returns once
    // it has run.
    void onInputThread(const std::function<void()>& work);
    // On the input thread from here on.
    void readAvailable();
    void closeSocket();
    void startReading();
    void finishConnecting(bool connected);
    // Said as it happened: a server that refuses, one that does not answer
    // in time, a network that cannot be reached, and a socket the system
    // would not make at all are different things to fix.
    QString connectFailure(QAbstractSocket::SocketError error, const QString& why) const;
    // Any thread: to the reporter on the thread that made the device.
    void reportError(const QString& text);

    std::unique_ptr<QThread> inputThread;
    std::unique_ptr<ThreadTasks> inputTasks;   // lives on the input thread
    std::unique_ptr<ThreadTasks> ownerTasks;   // ... on the thread that made the device
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<QTimer> resumeTimer;   // asks flow control again while paused
    std::unique_ptr<QTimer> connectTimer;  // bounds an asynchronous connect
    std::function<void(bool)> connectHandler;
    std::atomic<bool> pending{false};      // an asynchronous connect under way
    QString target;                        // "addr: …, port: …" for the messages
    QMetaObject::Connection connectedConnection;
    QMetaObject::Connection errorConnection;
    SampleCallback connectionCallback;     // the callback of the open connection
    std::function<bool()> flowReady;
    bool peerClosed = false;
    bool endReported = false;
    SettingsPrompt settingsPrompt;
    ErrorReporter errorReporter;
    int connectTimeoutMs = kConnectTimeoutMs;
    QMetaObject::Connection readConnection;
    QMetaObject::Connection closeConnection;
    std::function<void()> disconnectHandler;
    IqFormat openedFormat = IqFormat::S16;
    IqByteStream stream;   // joins samples split over two reads
    std::vector<uint8_t> readBuffer;   // one read's bytes, kept between reads
};

// The sample rate in Hz for a rate typed in MHz.
uint64_t sampleRateFromMHz(double mhz);
