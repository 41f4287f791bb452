#include <gtest/gtest.h>

#include <vector>

#include "norvale/ApsFrame.h"

using namespace norvale;

TEST(ApsFrame, ZeroFilledOwningFrame) {
    ApsFrame frame(4, 3, 7, 9);
    EXPECT_EQ(frame.width(), 4);
    EXPECT_EQ(frame.height(), 3);
    EXPECT_EQ(frame.pixelType(), 0);
    EXPECT_EQ(frame.auxTimestamp, 7u);
    EXPECT_EQ(frame.timestamp, 9u);
    ASSERT_EQ(frame.getDataSize(), 36u);
    for (uint64_t i = 0; i < frame.getDataSize(); ++i) ASSERT_EQ(frame.data()[i], 0);
}

TEST(ApsFrame, DataSizeDoesNotOverflowInt) {
    ApsFrame empty(0, 1000, 0, 0);
    EXPECT_EQ(empty.getDataSize(), 0u);
    EXPECT_EQ(empty.pixelType(), 0);
    uint8_t dummy = 0;
    ApsFrame borrowedHuge(50000, 50000, 0, 0, &dummy, 1, false); // nothing is touched
    EXPECT_EQ(borrowedHuge.getDataSize(), 7500000000ull);
}

TEST(ApsFrame, BorrowedFrameSeesCallerMemoryAndLeavesIt) {
    std::vector<uint8_t> memory(2 * 2 * 3, 1);
    {
        ApsFrame frame(2, 2, 0, 0, memory.data(), memory.size(), false);
        EXPECT_EQ(frame.data(), memory.data());
        memory[5] = 42;
        EXPECT_EQ(frame.data()[5], 42);
    }
    EXPECT_EQ(memory[5], 42); // still ours, not freed (ASan would object)
}

TEST(ApsFrame, CopyingConstructorCopiesBytes) {
    std::vector<uint8_t> memory(2 * 2 * 3);
    for (size_t i = 0; i < memory.size(); ++i) memory[i] = uint8_t(i);
    ApsFrame frame(2, 2, 0, 0, memory.data(), 999, true);
    EXPECT_NE(frame.data(), memory.data());
    memory[0] = 200;
    EXPECT_EQ(frame.data()[0], 0);
    EXPECT_EQ(frame.data()[11], 11);
}

TEST(ApsFrame, CopiesShareClonesDoNot) {
    ApsFrame original(3, 2, 1, 2);
    ApsFrame copy = original;
    copy.data()[4] = 77;
    EXPECT_EQ(original.data()[4], 77);

    ApsFrame clone = original.clone();
    EXPECT_NE(clone.data(), original.data());
    EXPECT_EQ(clone.data()[4], 77);
    EXPECT_EQ(clone.width(), 3);
    EXPECT_EQ(clone.height(), 2);
    EXPECT_EQ(clone.auxTimestamp, 1u);
    EXPECT_EQ(clone.timestamp, 2u);
    clone.data()[4] = 5;
    EXPECT_EQ(original.data()[4], 77);
}

TEST(ApsFrame, AssignmentReleasesOldBufferAndSurvivesSelfAssignment) {
    ApsFrame a(2, 2, 0, 0);
    ApsFrame b(8, 8, 3, 4);
    const uint8_t* bData = b.data();
    a = b;
    EXPECT_EQ(a.data(), bData);
    EXPECT_EQ(a.width(), 8);
    EXPECT_EQ(a.timestamp, 4u);
    ApsFrame& self = a;
    a = self;
    EXPECT_EQ(a.data(), bData);
    // The shared buffer outlives the frame it came from.
    { ApsFrame gone = std::move(b); }
    a.data()[a.getDataSize() - 1] = 1;
}
