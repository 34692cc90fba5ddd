#include "fec/FrameSequencer.h"

void FrameSequencer::setWorkers(std::vector<Worker*> list)
{
    std::lock_guard<std::mutex> lock(frameOrderMutex);
    workers = std::move(list);
    nextLdpcWorker = 0;
}

void FrameSequencer::dispatch(WorkBuffer* frame, WorkBuffer* tag)
{
    std::lock_guard<std::mutex> lock(frameOrderMutex);
    if (workers.empty())
        return;
    frameOrder.emplace(nextFrameSeq++, Entry{frame, tag, false});
    workers[nextLdpcWorker]->enqueue(frame, tag);
    nextLdpcWorker = (nextLdpcWorker + 1) % workers.size();
}

void FrameSequencer::finished(WorkBuffer* frame, WorkBuffer* tag)
{
    std::lock_guard<std::mutex> lock(frameOrderMutex);
    for (auto& [seq, entry] : frameOrder) {
        if (entry.frame == frame && entry.tag == tag) {
            entry.done = true;
            break;
        }
    }
    while (!frameOrder.empty() && frameOrder.begin()->second.done) {
        const Entry entry = frameOrder.begin()->second;
        frameOrder.erase(frameOrder.begin());
        if (release)
            release(entry.frame, entry.tag);
    }
}

size_t FrameSequencer::pending()
{
    std::lock_guard<std::mutex> lock(frameOrderMutex);
    return frameOrder.size();
}
