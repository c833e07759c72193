// Bounded hand-over between the decoding, rendering and encoding threads.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace tarnix {

template <class T>
class FrameQueue {
public:
    // False when the queue was cancelled.
    bool push(T item) {
        std::unique_lock<std::mutex> lock(mLock);
        mChanged.wait(lock, [&] { return mCancelled || mItems.size() < mCapacity; });
        if (mCancelled) return false;
        mItems.push_back(std::move(item));
        mChanged.notify_all();
        return true;
    }
    // Nothing once closed and drained, or cancelled.
    std::optional<T> pop() {
        std::unique_lock<std::mutex> lock(mLock);
        mChanged.wait(lock, [&] { return mCancelled || mClosed || !mItems.empty(); });
        if (mCancelled || mItems.empty()) return std::nullopt;
        T item = std::move(mItems.front());
        mItems.pop_front();
        mChanged.notify_all();
        return item;
    }
    // No more items will come; those queued are still handed out.
    void close() {
        std::lock_guard<std::mutex> lock(mLock);
        mClosed = true;
        mChanged.notify_all();
    }
    // Stop now: every waiter returns.
    void cancel() {
        std::lock_guard<std::mutex> lock(mLock);
        mCancelled = true;
        mChanged.notify_all();
    }
    explicit FrameQueue(size_t capacity) : mCapacity(capacity) {}

private:
    std::mutex mLock;
    std::condition_variable mChanged;
    std::deque<T> mItems;
    size_t mCapacity;
    bool mClosed = false, mCancelled = false;
};

}  // namespace tarnix
