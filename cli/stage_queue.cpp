#include "stage_queue.h"

#include <chrono>

#include "stop_request.h"

namespace {

// A signal handler cannot wake a condition variable, so waits look at the
// stop request this often.
const std::chrono::milliseconds kStopPoll(50);

}  // namespace

bool StageQueue::Full(const StageItem& item) const {
    return items_.size() >= maxItems_ || (item.frame && frames_ >= maxFrames_);
}

bool StageQueue::Push(StageItem item) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!abandoned_ && !g_stopSignal && Full(item)) changed_.wait_for(lock, kStopPoll);
    if (abandoned_ || g_stopSignal) return false;
    frames_ += item.frame != nullptr;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
}

bool StageQueue::Pop(StageItem* item) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!abandoned_ && !g_stopSignal && items_.empty() && !finished_) changed_.wait_for(lock, kStopPoll);
    if (abandoned_ || g_stopSignal || items_.empty()) return false;
    *item = std::move(items_.front());
    items_.pop_front();
    frames_ -= item->frame != nullptr;
    changed_.notify_all();
    return true;
}

void StageQueue::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

void StageQueue::Abandon() {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    items_.clear();
    frames_ = 0;
    changed_.notify_all();
}
