// The queue between apply's stages: everything comes out in the order it
// went in, frames never wait beyond the bound, and Abandon wakes every
// thread that waits.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "stage_queue.h"

namespace {

StageItem Item(bool frame, int64_t number) {
    StageItem item;
    if (frame) {
        item.frame.reset(av_frame_alloc());
        item.frameNumber = number;
    } else {
        item.packet.reset(av_packet_alloc());
        item.packet->pts = number;
    }
    return item;
}

TEST(StageQueue, KeepsTheOrderAndTheBoundAcrossThreads) {
    const size_t kFrames = 3;
    StageQueue queue(kFrames, 16);
    std::mt19937 random(7);
    std::vector<bool> kinds(5000);
    for (size_t i = 0; i < kinds.size(); i++) kinds[i] = random() % 3 == 0;

    std::atomic<int64_t> framesIn{0}, framesOut{0};
    std::atomic<int64_t> mostWaiting{0};
    std::thread producer([&] {
        for (size_t i = 0; i < kinds.size(); i++) {
            ASSERT_TRUE(queue.Push(Item(kinds[i], static_cast<int64_t>(i))));
            if (kinds[i]) {
                // Taken but not yet counted by the consumer: one more.
                const int64_t waiting = ++framesIn - framesOut;
                if (waiting > mostWaiting) mostWaiting = waiting;
            }
        }
        queue.Finish();
    });
    std::vector<int64_t> order;
    StageItem item;
    while (queue.Pop(&item)) {
        ASSERT_NE(item.frame == nullptr, item.packet == nullptr);
        order.push_back(item.frame ? item.frameNumber : item.packet->pts);
        if (item.frame) framesOut++;
        if (order.size() % 97 == 0) std::this_thread::yield();
    }
    producer.join();
    ASSERT_EQ(order.size(), kinds.size());
    for (size_t i = 0; i < order.size(); i++) ASSERT_EQ(order[i], static_cast<int64_t>(i));
    EXPECT_LE(mostWaiting, static_cast<int64_t>(kFrames) + 1);
}

TEST(StageQueue, AbandonWakesTheWaitingAndRefusesWhatFollows) {
    StageQueue full(1, 4);
    ASSERT_TRUE(full.Push(Item(true, 0)));
    std::thread pusher([&] { EXPECT_FALSE(full.Push(Item(true, 1))); });  // waits for room
    StageQueue empty(1, 4);
    std::thread popper([&] {
        StageItem item;
        EXPECT_FALSE(empty.Pop(&item));  // waits for an item
    });
    full.Abandon();
    empty.Abandon();
    pusher.join();
    popper.join();
    StageItem item;
    EXPECT_FALSE(full.Pop(&item));  // what waited is dropped
    EXPECT_FALSE(empty.Push(Item(false, 2)));
}

}  // namespace
