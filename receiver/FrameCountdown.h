// A debug trace that covers a number of frames once armed: armed from any
// thread (the window's menu), counted down on the thread that parses.
#pragma once

#include <atomic>

class FrameCountdown {
public:
    void arm(int frames) { left.store(frames); }
    int framesLeft() const { return left.load(); }

    // For each frame: true when it is to be traced (and counted).
    bool next()
    {
        int n = left.load();
        while (n > 0 && !left.compare_exchange_weak(n, n - 1)) {
        }
        return n > 0;
    }

private:
    std::atomic<int> left{0};
};
