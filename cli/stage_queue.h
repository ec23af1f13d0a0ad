// The queue between two stages of apply (decoding, patching, encoding), each
// in a thread of its own: the frames and the other streams' packets in the
// order they were read, at most a few frames at a time, so that memory is
// bounded by the queues whatever the stages' speeds.
#ifndef DELBRIN_CLI_STAGE_QUEUE_H
#define DELBRIN_CLI_STAGE_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "av_owners.h"

// A video frame with its number, or a packet of another stream.
struct StageItem {
    FramePtr  frame;
    int64_t   frameNumber = 0;
    PacketPtr packet;
};

class StageQueue {
public:
    // At most maxFrames frames and maxItems items (frames and packets) wait.
    StageQueue(size_t maxFrames, size_t maxItems) : maxFrames_(maxFrames), maxItems_(maxItems) {}

    // Waits for room. False once the queue is abandoned or a stop is
    // requested; the item is then dropped.
    bool Push(StageItem item);

    // Waits for the next item. False at the end (Finish, and every item
    // taken), once the queue is abandoned, or once a stop is requested.
    bool Pop(StageItem* item);

    // No more items will come.
    void Finish();

    // The run failed: every Push and Pop returns false from now on, and
    // whatever waits is dropped.
    void Abandon();

private:
    bool Full(const StageItem& item) const;

    const size_t maxFrames_, maxItems_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<StageItem> items_;
    size_t frames_ = 0;
    bool finished_ = false;
    bool abandoned_ = false;
};

#endif
