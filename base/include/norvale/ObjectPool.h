#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "norvale/Event2D.h"

namespace norvale {

// A thread-safe pool of reusable objects. acquire() hands out a shared pointer; when its last
// copy goes away (on any thread) the object returns to the pool with its capacity, unchanged:
// the user clears it. Reuse is last-in first-out, so recently touched memory comes back first.
// An empty pool makes a new object rather than blocking. Objects released after the pool is
// gone, or while it already keeps its most idle objects, are freed: a burst that needed many does
// not keep them all for good.

class NrObjectPoolBase {};

template <typename T>
class NrObjectPool : public NrObjectPoolBase {
public:
    virtual ~NrObjectPool() = default;
    virtual bool empty() const = 0;         // no idle object
    virtual std::size_t size() const = 0;   // idle objects
    virtual std::shared_ptr<T> acquire() = 0;
};

namespace detail {

// Keeps the freed control blocks of handed-out shared pointers for the next acquire, so a warm
// pool allocates nothing. It lives as long as any control block that may come back to it.
class BlockCache {
public:
    BlockCache() = default;
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() {
        while (head) {
            void* next = *static_cast<void**>(head);
            ::operator delete(head);
            head = next;
        }
    }
    void* get(std::size_t bytes) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (head && bytes == blockSize) {
                void* block = head;
                head = *static_cast<void**>(block);
                return block;
            }
        }
        return ::operator new(bytes);
    }
    void put(void* block, std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        if (blockSize == 0) blockSize = bytes;
        if (bytes != blockSize || bytes < sizeof(void*)) {
            ::operator delete(block);
            return;
        }
        *static_cast<void**>(block) = head;
        head = block;
    }

private:
    std::mutex mutex;
    void* head = nullptr;      // free list threaded through the blocks themselves
    std::size_t blockSize = 0; // one shared_ptr control block type per pool
};

template <typename U>
struct CachedAllocator {
    using value_type = U;
    std::shared_ptr<BlockCache> cache;

    explicit CachedAllocator(std::shared_ptr<BlockCache> c) : cache(std::move(c)) {}
    template <typename V>
    CachedAllocator(const CachedAllocator<V>& other) : cache(other.cache) {}
    U* allocate(std::size_t n) { return static_cast<U*>(cache->get(n * sizeof(U))); }
    void deallocate(U* p, std::size_t n) { cache->put(p, n * sizeof(U)); }
    template <typename V>
    bool operator==(const CachedAllocator<V>& other) const { return cache == other.cache; }
    template <typename V>
    bool operator!=(const CachedAllocator<V>& other) const { return cache != other.cache; }
};

} // namespace detail

template <typename T, bool Shared>
class ObjectPool;

template <typename T>
class ObjectPool<T, true> {
public:
    // Shared state. mutex guards idle and waitWhenEmpty.
    struct Impl {
        std::weak_ptr<Impl> self;
        mutable std::mutex mutex;
        std::condition_variable returned;
        std::deque<std::unique_ptr<T>> idle;
        std::size_t maxIdle = SIZE_MAX;
        bool waitWhenEmpty = false;
        std::shared_ptr<detail::BlockCache> blocks = std::make_shared<detail::BlockCache>();
    };

    // Returns the object to its pool, or frees it when the pool is gone.
    struct Deleter {
        std::weak_ptr<Impl> pool;
        void operator()(T* object) const {
            std::unique_ptr<T> owned(object);
            if (auto impl = pool.lock()) {
                std::lock_guard<std::mutex> lock(impl->mutex);
                if (impl->idle.size() >= impl->maxIdle) return; // owned frees it
                try {
                    impl->idle.push_back(std::move(owned));
                } catch (const std::bad_alloc&) {
                    return; // owned frees it
                }
                if (impl->waitWhenEmpty) impl->returned.notify_all();
            }
        }
    };

    static std::shared_ptr<T> acquire(Impl& impl) {
        std::unique_lock<std::mutex> lock(impl.mutex);
        if (impl.idle.empty()) {
            if (impl.waitWhenEmpty)
                impl.returned.wait(lock, [&] { return !impl.idle.empty(); });
            else
                impl.idle.push_back(std::make_unique<T>());
        }
        std::unique_ptr<T> object = std::move(impl.idle.back());
        impl.idle.pop_back();
        // lock() of an expired self throws std::bad_weak_ptr, as the shared_ptr constructor does.
        std::shared_ptr<Impl> owner(impl.self);
        lock.unlock();
        return std::shared_ptr<T>(object.release(), Deleter{owner}, detail::CachedAllocator<T>(owner->blocks));
    }
};

template <typename T>
class NrObjectPoolWrapper : public NrObjectPool<T> {
public:
    using Impl = typename ObjectPool<T, true>::Impl;

    explicit NrObjectPoolWrapper(std::shared_ptr<Impl> impl) : pool(std::move(impl)) {}

    bool empty() const override {
        std::lock_guard<std::mutex> lock(pool->mutex);
        return pool->idle.empty();
    }
    std::size_t size() const override {
        std::lock_guard<std::mutex> lock(pool->mutex);
        return pool->idle.size();
    }
    std::shared_ptr<T> acquire() override { return ObjectPool<T, true>::acquire(*pool); }

private:
    std::shared_ptr<Impl> pool;
};

class NrObjectPoolFactory {
public:
    // count default-constructed objects; at most maxIdle of them are kept idle.
    template <typename T>
    static std::unique_ptr<NrObjectPool<T>> createUniqueNrObjectPool(uint64_t count, std::size_t maxIdle = SIZE_MAX) {
        return make<T>(count, [] { return std::make_unique<T>(); }, maxIdle);
    }
    // count objects built as T(n); for event vectors, n zeroed events each.
    template <typename T>
    static std::unique_ptr<NrObjectPool<T>> createUniqueNrObjectPoolWithArgs(uint64_t count, int n) {
        return make<T>(count, [n] { return std::make_unique<T>(n); });
    }

private:
    template <typename T, typename Make>
    static std::unique_ptr<NrObjectPool<T>> make(uint64_t count, Make makeOne, std::size_t maxIdle = SIZE_MAX) {
        using Impl = typename ObjectPool<T, true>::Impl;
        auto impl = std::make_shared<Impl>();
        impl->self = impl;
        impl->maxIdle = maxIdle;
        for (uint64_t i = 0; i < count; ++i) impl->idle.push_back(makeOne());
        return std::make_unique<NrObjectPoolWrapper<T>>(std::move(impl));
    }
};

using EventBufferPool = NrObjectPool<std::vector<Event2D>>;

} // namespace norvale
