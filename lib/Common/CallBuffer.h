// Working memory that lives for one call: `count` elements from the process heap, left
// uninitialised, given back when the buffer goes out of scope. A heap that refuses the request
// does not throw: the buffer is then false and holds nothing, and the caller ends its call with
// its own failure status (or, for memory that only saves time, goes the slower way). A buffer
// made without a count holds nothing and is false as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

template <class T>
class CallBuffer {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>,
                  "the elements are neither initialised nor destroyed one by one");

public:
    CallBuffer() = default;
    explicit CallBuffer(size_t count) {
        // A count whose byte size cannot be formed is refused here rather than by the language.
        if (count <= size_t(PTRDIFF_MAX) / sizeof(T))
            mData.reset(new (std::nothrow) T[count]);
        mCount = mData ? count : 0;
    }
    CallBuffer(CallBuffer&& other) noexcept
        : mData(std::move(other.mData)), mCount(std::exchange(other.mCount, size_t(0))) {}
    CallBuffer& operator=(CallBuffer&& other) noexcept {
        mData = std::move(other.mData);
        mCount = std::exchange(other.mCount, size_t(0));
        return *this;
    }

    // False when the heap refused the elements asked for.
    explicit operator bool() const { return mData != nullptr; }

    T* data() { return mData.get(); }
    const T* data() const { return mData.get(); }
    size_t size() const { return mCount; }
    T& operator[](size_t i) { return mData[i]; }
    const T& operator[](size_t i) const { return mData[i]; }

private:
    std::unique_ptr<T[]> mData;
    size_t mCount = 0;
};
