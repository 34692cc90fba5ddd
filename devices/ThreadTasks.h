// Work handed to the thread an object lives on. The hand-over goes through
// a queue and a mutex of our own rather than Qt's queued calls alone: the
// effect is the same, and the thread sanitizer sees this synchronisation
// (Qt's own is inside libraries it has not instrumented).
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

class ThreadTasks : public QObject {
public:
    ThreadTasks();
    ~ThreadTasks() override;
    // Runs `task` later on the thread this object lives on, in the order
    // posted. (Tasks still queued when the object goes are dropped.)
    void post(std::function<void()> task);
    // Runs `task` there and returns once it has run; at once when called on
    // that thread. That thread must not be waiting for the caller.
    void run(const std::function<void()>& task);

protected:
    bool event(QEvent* event) override;

private:
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    std::condition_variable ran;
    unsigned long finished = 0;   // tasks run so far, for run()
    unsigned long posted = 0;
};
