// A main window in a scratch working folder of its own (config.ini and
// devices.ini are read there), with its message boxes recorded instead of
// shown, and the event loop turned by hand.
#pragma once

#include "app/MainWindow.h"
#include "devices/DeviceLibraries.h"
#include "ui_MainWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Turns the event loop until `done` holds or the time is up.
template <typename Pred>
bool pumpUntil(Pred done, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

inline void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

class WindowTest : public ::testing::Test {
protected:
    // One LDPC worker (each takes an 8 MiB arena), the network output off.
    static constexpr const char* kQuietConfig = "conf_ldpc_threads=1\nip_out_mode=0\n";

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        savedFolder = QDir::currentPath();
        QDir::setCurrent(folder.path());
    }

    void TearDown() override
    {
        window.reset();
        QDir::setCurrent(savedFolder);
    }

    // Writes config.ini's "Generic" group and opens the window.
    void open(const std::string& generic = kQuietConfig, const WindowOptions& options = WindowOptions())
    {
        std::ofstream(folder.filePath("config.ini").toStdString()) << "[Generic]\n" << generic;
        WindowMessages messages;
        messages.warning = [this](const QString& title, const QString& text) { warnings.emplace_back(title, text); };
        messages.information = [this](const QString& title, const QString& text) {
            informations.emplace_back(title, text);
        };
        // No radio libraries unless a test brings its stand-ins: the tests
        // neither find a radio on the machine nor probe the network for one.
        static const DeviceLibraries noRadios;
        WindowOptions hermetic = options;
        if (hermetic.radioLibraries == nullptr)
            hermetic.radioLibraries = &noRadios;
        window = std::make_unique<MainWindow>(hermetic, messages);
    }

    Ui::MainWindow& ui() { return *window->form(); }
    ProcessingChain& chain() { return window->chain(); }

    QString path(const QString& name) const { return folder.filePath(name); }

    QTemporaryDir folder;
    QString savedFolder;
    std::unique_ptr<MainWindow> window;
    std::vector<std::pair<QString, QString>> warnings;
    std::vector<std::pair<QString, QString>> informations;
};
