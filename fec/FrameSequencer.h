// Deals DVB-S2 frames to several decoding workers in strict rotation and
// releases the decoded frames in the order they were dealt.
#pragma once

#include "core/WorkBuffer.h"
#include "core/Worker.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

class FrameSequencer {
public:
    // Receives each frame, in dealing order, with frameOrderMutex held.
    using Release = std::function<void(WorkBuffer* frame, WorkBuffer* tag)>;

    explicit FrameSequencer(Release release) : release(std::move(release)) {}

    // The decoding workers, in rotation order; set before the first frame.
    void setWorkers(std::vector<Worker*> list);

    // Queues (frame, tag) at the next worker in turn, with the next sequence number.
    void dispatch(WorkBuffer* frame, WorkBuffer* tag);

    // A worker finished (frame, tag): marks it, then releases the run of
    // finished frames at the front of the order.
    void finished(WorkBuffer* frame, WorkBuffer* tag);

    size_t pending();

    // Orders the stream layer: everything after decoding runs under it.
    std::mutex frameOrderMutex;

private:
    struct Entry {
        WorkBuffer* frame;
        WorkBuffer* tag;
        bool done;
    };

    Release release;
    std::vector<Worker*> workers;
    size_t nextLdpcWorker = 0;
    int64_t nextFrameSeq = 0;
    std::map<int64_t, Entry> frameOrder;
};
