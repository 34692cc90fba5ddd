#include "devices/ThreadTasks.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace {

const QEvent::Type kRunTasks = QEvent::Type(QEvent::registerEventType());

} // namespace

ThreadTasks::ThreadTasks() = default;

ThreadTasks::~ThreadTasks()
{
    // After the last post from another thread, whichever thread deletes us.
    std::lock_guard<std::mutex> lock(mutex);
    tasks.clear();
}

void ThreadTasks::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(task));
        ++posted;
    }
    QCoreApplication::postEvent(this, new QEvent(kRunTasks));
}

void ThreadTasks::run(const std::function<void()>& task)
{
    if (QThread::currentThread() == thread()) {
        task();
        return;
    }
    unsigned long mine = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(task);
        mine = ++posted;
    }
    QCoreApplication::postEvent(this, new QEvent(kRunTasks));
    std::unique_lock<std::mutex> lock(mutex);
    ran.wait(lock, [&] { return finished >= mine; });
}

bool ThreadTasks::event(QEvent* event)
{
    // Any event runs what is queued: the event's own fields are not read
    // here (Qt wrote them in code the sanitizer does not see). Each task
    // posted comes with an event, so none waits for another.
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (tasks.empty())
                break;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++finished;
        }
        ran.notify_all();
    }
    return QObject::event(event);
}
