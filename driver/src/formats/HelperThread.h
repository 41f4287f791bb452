#pragma once

// One thread kept for work that a caller shares with it time after time (the second half of a
// range read): a task wakes it and the caller waits for the task. No thread is started per task,
// and what the thread keeps (its decompression contexts, its memory) stays warm between tasks.
//
// Threads: one caller at a time; a task never throws (what escapes it is dropped). In a child
// forked after the thread started (the thread stayed in the parent), the child starts its own.
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

namespace norvale::detail {

class HelperThread {
public:
    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    ~HelperThread();

    // Runs task on the thread (started on first use); false when no thread can be had, for the
    // caller to do the work itself. A task that captures one reference is kept without allocating.
    bool post(std::function<void()> task);
    // Until the posted task has finished.
    void wait();
    // A value the caller hands to the posted task while it runs, and the task's wait for it: what
    // a promise per task would do, without allocating. The caller gives before it waits.
    void give(size_t value);
    size_t given();

private:
    void loop();
    // The thread runs in this process (not in the parent of a fork).
    bool ours() const;
    // In a forked child: lets go of the parent's thread.
    void forgetParentThread();

    pid_t owner = 0; // the process that started the thread
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> task;
    bool pending = false;
    bool stopping = false;
    bool hasGift = false;
    size_t gift = 0;
};

} // namespace norvale::detail
