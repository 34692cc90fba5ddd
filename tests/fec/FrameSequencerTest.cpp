#include "fec/FrameSequencer.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

// A decoder stand-in whose items finish only when the test lets them.
class GatedWorker : public Worker {
public:
    GatedWorker(FrameSequencer& sequencer)
        : Worker([&sequencer](WorkBuffer* f, WorkBuffer* t) { sequencer.finished(f, t); })
    {
    }
    ~GatedWorker() override
    {
        openAll();
        stop();
    }
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* frame, WorkBuffer*) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        received.push_back(frame);
        changed.notify_all();
        changed.wait(lock, [&] { return allowed.count(frame) || all; });
    }
    void allow(WorkBuffer* frame)
    {
        std::lock_guard<std::mutex> lock(mutex);
        allowed.insert(frame);
        changed.notify_all();
    }
    void openAll()
    {
        std::lock_guard<std::mutex> lock(mutex);
        all = true;
        changed.notify_all();
    }
    std::vector<WorkBuffer*> receivedFrames()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<WorkBuffer*> received;
    std::set<WorkBuffer*> allowed;
    bool all = false;
};

template <typename Pred>
bool waitUntil(Pred p)
{
    return testsupport::waitUntil(p, 2000);
}

} // namespace

// Three workers finishing 2, 3, then 1: nothing leaves until 1 is done, then
// 1, 2, 3 in order. Frames are dealt in strict rotation.
TEST(FrameSequencer, ReleasesInDealingOrderWhateverTheFinishingOrder)
{
    std::mutex releasedMutex;
    std::vector<WorkBuffer*> released;
    FrameSequencer sequencer([&](WorkBuffer* f, WorkBuffer*) {
        std::lock_guard<std::mutex> lock(releasedMutex);
        released.push_back(f);
    });
    GatedWorker w0(sequencer), w1(sequencer), w2(sequencer);
    sequencer.setWorkers({&w0, &w1, &w2});
    for (Worker* w : {&w0, &w1, &w2})
        w->start();
    std::vector<WorkBuffer> frames(6), tags(6);
    for (int i = 0; i < 6; ++i)
        sequencer.dispatch(&frames[i], &tags[i]);
    ASSERT_TRUE(waitUntil([&] { return w0.receivedFrames().size() == 1 && w1.receivedFrames().size() == 1 &&
                                       w2.receivedFrames().size() == 1; }));
    EXPECT_EQ(w0.receivedFrames()[0], &frames[0]);
    EXPECT_EQ(w1.receivedFrames()[0], &frames[1]);
    EXPECT_EQ(w2.receivedFrames()[0], &frames[2]);

    w1.allow(&frames[1]);
    w2.allow(&frames[2]);
    ASSERT_TRUE(waitUntil([&] { return w1.receivedFrames().size() == 2 && w2.receivedFrames().size() == 2; }));
    {
        std::lock_guard<std::mutex> lock(releasedMutex);
        EXPECT_TRUE(released.empty()) << "frame 0 holds the others back";
    }
    w0.allow(&frames[0]);
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(releasedMutex);
        return released.size() == 3;
    }));
    for (int i = 3; i < 6; ++i)
        (i % 3 == 0 ? w0 : i % 3 == 1 ? w1 : w2).allow(&frames[i]);
    ASSERT_TRUE(waitUntil([&] { return sequencer.pending() == 0; }));
    std::lock_guard<std::mutex> lock(releasedMutex);
    ASSERT_EQ(released.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(released[i], &frames[i]);
}

TEST(FrameSequencer, OneWorkerReleasesEachFrameAsItFinishes)
{
    std::vector<WorkBuffer*> released;
    FrameSequencer sequencer([&](WorkBuffer* f, WorkBuffer*) { released.push_back(f); });
    std::vector<WorkBuffer> frames(3), tags(3);
    sequencer.dispatch(&frames[0], &tags[0]);   // no workers yet: nothing happens
    EXPECT_EQ(sequencer.pending(), 0u);
    GatedWorker w(sequencer);
    sequencer.setWorkers({&w});
    for (int i = 0; i < 3; ++i)
        sequencer.dispatch(&frames[i], &tags[i]);
    EXPECT_EQ(sequencer.pending(), 3u);
    sequencer.finished(&frames[0], &tags[0]);
    EXPECT_EQ(released, std::vector<WorkBuffer*>({&frames[0]}));
    sequencer.finished(&frames[2], &tags[2]);
    EXPECT_EQ(released.size(), 1u);
    sequencer.finished(&frames[1], &tags[1]);
    EXPECT_EQ(released, std::vector<WorkBuffer*>({&frames[0], &frames[1], &frames[2]}));
    sequencer.finished(&frames[1], &tags[1]);   // unknown now: ignored
    EXPECT_EQ(released.size(), 3u);
}
