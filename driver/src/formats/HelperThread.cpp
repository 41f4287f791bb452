#include "formats/HelperThread.h"

#include <system_error>

namespace norvale::detail {

HelperThread::~HelperThread() {
    if (!thread.joinable()) return;
    wait();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

bool HelperThread::post(std::function<void()> work) {
    if (!thread.joinable()) {
        try {
            thread = std::thread(&HelperThread::loop, this);
        } catch (const std::system_error&) {
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        task = std::move(work);
        pending = true;
    }
    changed.notify_all();
    return true;
}

void HelperThread::wait() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !pending; });
}

void HelperThread::loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return pending || stopping; });
        if (!pending) return; // stopping, nothing left to do
        std::function<void()> work = std::move(task);
        lock.unlock();
        try {
            work();
        } catch (...) {
        }
        work = nullptr; // what it holds goes with it, on this thread
        lock.lock();
        pending = false;
        changed.notify_all();
    }
}

} // namespace norvale::detail
