// Work handed to the thread an object lives on.
#include "devices/ThreadTasks.h"
#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// Posted tasks run on the object's thread, in the order posted; run()
// returns once its task has run there, and runs at once on that thread.
TEST(ThreadTasks, RunOnTheObjectsThreadInOrder)
{
    QThread thread;
    ThreadTasks tasks;
    tasks.moveToThread(&thread);
    thread.start();

    std::vector<int> order;   // written on `thread` only
    std::atomic<int> elsewhere{0};
    const std::thread::id poster = std::this_thread::get_id();
    for (int k = 0; k < 100; ++k)
        tasks.post([&, k] {
            order.push_back(k);
            elsewhere += std::this_thread::get_id() != poster;
        });
    int value = 0;
    bool nested = false;
    tasks.run([&] {
        value = 7;
        // Called on its own thread, run() does not wait for itself.
        tasks.run([&] { nested = true; });
    });
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(nested);
    ASSERT_EQ(order.size(), 100u) << "posted before the run, so run before it";
    for (int k = 0; k < 100; ++k)
        EXPECT_EQ(order[size_t(k)], k);
    EXPECT_EQ(elsewhere.load(), 100);

    // From a thread of its own, as a device's input thread posts to its owner.
    std::thread other([&] { tasks.run([&] { value = 8; }); });
    other.join();
    EXPECT_EQ(value, 8);

    thread.quit();
    thread.wait();
}
