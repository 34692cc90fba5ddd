// The roll-off reports reach an object on another thread through a queued
// call: the slot runs on the object's thread, once per report, in order.
#include "receiver/ChainOutputs.h"
#include "tests/net/NetTestClients.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace {

class RollOffReceiver : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void rolloffChangeNotification(float rollOff)
    {
        values.push_back(rollOff);
        threads.push_back(QThread::currentThread());
    }

public:
    std::vector<float> values;
    std::vector<QThread*> threads;
};

} // namespace

TEST(RollOffNotification, RunsQueuedOnTheReceiversThread)
{
    RollOffReceiver receiver;   // lives on this thread, like the window on the GUI thread
    const std::function<void(float)> notify = queuedRollOffNotification(&receiver);
    std::thread stage([&] {
        for (float r : {0.35f, 0.25f, 0.20f, 0.0f})
            notify(r);
    });
    stage.join();
    EXPECT_TRUE(receiver.values.empty()) << "nothing runs on the calling thread";
    ASSERT_TRUE(nettest::waitUntil([&] {
        QCoreApplication::processEvents();
        return receiver.values.size() == 4;
    }));
    EXPECT_EQ(receiver.values, (std::vector<float>{0.35f, 0.25f, 0.20f, 0.0f}));
    for (QThread* t : receiver.threads)
        EXPECT_EQ(t, QThread::currentThread());
}

TEST(RollOffNotification, AReceiverWithoutTheSlotIsLoggedOnce)
{
    QObject plain;
    const std::function<void(float)> notify = queuedRollOffNotification(&plain);
    testing::internal::CaptureStderr();
    notify(0.35f);
    notify(0.25f);
    QCoreApplication::processEvents();
    const std::string log = testing::internal::GetCapturedStderr();
    const std::string line = "rolloffChangeNotification(float) not found in the receiver\n";
    const size_t first = log.find(line);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first + 1), std::string::npos) << log;
}

#include "RollOffNotificationTest.moc"
