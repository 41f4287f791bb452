#include "formats/HelperThread.h"

#include <unistd.h>

#include <new>
#include <system_error>

namespace norvale::detail {

bool HelperThread::ours() const { return owner == ::getpid(); }

void HelperThread::forgetParentThread() {
    // Its handle cannot be joined here, and the lock and condition it waits in count it as a
    // waiter (waking or destroying them would wait for it): all three are left as they are, never
    // destroyed, and the child takes fresh ones.
    new std::thread(std::move(thread));
    new (&mutex) std::mutex();
    new (&changed) std::condition_variable();
    pending = false;
    stopping = false;
    hasGift = false;
}

HelperThread::~HelperThread() {
    if (!thread.joinable()) return;
    if (!ours()) {
        forgetParentThread();
        return;
    }
    wait();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

bool HelperThread::post(std::function<void()> work) {
    if (thread.joinable() && !ours()) forgetParentThread();
    if (!thread.joinable()) {
        try {
            thread = std::thread(&HelperThread::loop, this);
        } catch (const std::system_error&) {
            return false;
        }
        owner = ::getpid();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        task = std::move(work);
        pending = true;
        hasGift = false;
    }
    changed.notify_all();
    return true;
}

void HelperThread::wait() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !pending; });
}

void HelperThread::give(size_t value) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        gift = value;
        hasGift = true;
    }
    changed.notify_all();
}

size_t HelperThread::given() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return hasGift; });
    return gift;
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
