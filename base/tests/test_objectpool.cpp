#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "norvale/ObjectPool.h"

using namespace norvale;
using EventVector = std::vector<Event2D>;

TEST(ObjectPool, EmptyPoolGrowsOnAcquire) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(0);
    EXPECT_TRUE(pool->empty());
    EXPECT_EQ(pool->size(), 0u);
    {
        auto buffer = pool->acquire();
        ASSERT_TRUE(buffer);
        EXPECT_TRUE(buffer->empty());
        EXPECT_EQ(pool->size(), 0u);
    }
    EXPECT_EQ(pool->size(), 1u);
    EXPECT_FALSE(pool->empty());
}

TEST(ObjectPool, ReturnedObjectKeepsContentsAndIsReused) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(1);
    EventVector* first = nullptr;
    {
        auto buffer = pool->acquire();
        first = buffer.get();
        buffer->resize(5, Event2D{1, 2, 1, 3});
    }
    auto again = pool->acquire();
    EXPECT_EQ(again.get(), first);
    ASSERT_EQ(again->size(), 5u);
    EXPECT_EQ((*again)[4].timestamp, 3u);
}

TEST(ObjectPool, KeepsAtMostItsIdleLimitAfterABurst) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(2, 3);
    {
        std::vector<std::shared_ptr<EventVector>> burst;
        for (int i = 0; i < 10; ++i) burst.push_back(pool->acquire());
        EXPECT_EQ(pool->size(), 0u);
    }
    EXPECT_EQ(pool->size(), 3u); // the other seven were freed
    auto again = pool->acquire();
    EXPECT_EQ(pool->size(), 2u);
}

TEST(ObjectPool, LastInFirstOut) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(0);
    auto a = pool->acquire();
    auto b = pool->acquire();
    EventVector* rawB = b.get();
    a.reset();
    b.reset();
    EXPECT_EQ(pool->acquire().get(), rawB);
}

TEST(ObjectPool, SizeCountsIdleObjectsAndArgsBuildZeroedVectors) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPoolWithArgs<EventVector>(10, 64);
    EXPECT_EQ(pool->size(), 10u);
    auto a = pool->acquire();
    auto b = pool->acquire();
    auto c = pool->acquire();
    EXPECT_EQ(pool->size(), 7u);
    ASSERT_EQ(a->size(), 64u);
    EXPECT_EQ(a->capacity(), 64u);
    EXPECT_EQ((*a)[63].timestamp, 0u);
    EXPECT_EQ((*a)[0].x, 0u);
}

TEST(ObjectPool, CopiesReturnOnlyWhenTheLastGoes) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(0);
    auto a = pool->acquire();
    auto copy = a;
    a.reset();
    EXPECT_EQ(pool->size(), 0u);
    copy.reset();
    EXPECT_EQ(pool->size(), 1u);
}

TEST(ObjectPool, BufferReleasedAfterPoolIsGoneIsFreed) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(2);
    auto buffer = pool->acquire();
    buffer->resize(100);
    pool.reset();
    buffer->push_back(Event2D{}); // still usable
    buffer.reset();                // freed, not pooled: LeakSanitizer checks it
}

TEST(ObjectPool, ManyThreadsAcquireAndRelease) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPool<EventVector>(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&pool] {
            for (int i = 0; i < 2000; ++i) {
                auto buffer = pool->acquire();
                buffer->clear();
                buffer->push_back(Event2D{uint16_t(i), 0, 0, uint64_t(i)});
                auto handOver = buffer; // release may happen on another copy
            }
        });
    for (auto& t : threads) t.join();
    // At most four were in use at once, so the pool never had to grow.
    EXPECT_EQ(pool->size(), 4u);
}
