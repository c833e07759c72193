// The scratches that live across frames: what one scratch is, what a scratch stage hands it
// for a frame, and the list an effect instance keeps of them. The instance data owns the
// lists and deletes what they still hold; the scratch stages give the objects their
// behaviour.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>

// Where a scratch may be: left 0, top 0, right width - 1, bottom height (the height itself).
struct ScratchBounds {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    friend bool operator==(const ScratchBounds&, const ScratchBounds&) = default;
};

class ScratchObject;

// What a stage hands the scratches of one frame.
struct ScratchPass {
    int32_t frame = 0;
    uint8_t colour[4] = {0, 0, 0, 0};  // alpha, red, green, blue
    int32_t count = 0;
    int32_t duration = 0;
    struct ScratchList* list = nullptr;
};

// The frame the scratches are drawn into.
struct ScratchTarget {
    uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;
    bool flag = false;
};

// What the instance data deletes: it knows no scratch kind, and its code must not need
// anything that only the stages define.
class ScratchEntry {
public:
    virtual ~ScratchEntry() = default;
};

// One scratch: where it stands, how long it lives and how it drifts. The kinds add how they
// are drawn.
class ScratchObject : public ScratchEntry {
public:
    enum Update : int32_t { Draw = 0, Dead = 1, Hidden = 2 };

    // Draws the lifetime (1..duration) and the drift (0..3), in that order.
    ScratchObject(int32_t frame, int32_t duration, const ScratchBounds& bounds);
    ~ScratchObject() override { sLive.fetch_sub(1, std::memory_order_relaxed); }
    ScratchObject& operator=(const ScratchObject&) = delete;

    virtual bool draw(const ScratchPass& pass, const ScratchTarget& target) = 0;
    virtual int32_t width() = 0;
    virtual int32_t length() = 0;
    // Ages the scratch to `frame` and moves it one drift step when the frame is new.
    virtual int32_t update(int32_t frame);
    // Follows a change of frame size: the column keeps its place relative to the width.
    virtual void setBounds(const ScratchBounds& bounds);

    // Scratches alive in the process, for leak checks.
    static int64_t liveCount() { return sLive.load(std::memory_order_relaxed); }

    int32_t lastFrame;
    int32_t lifetime = 0;
    int32_t birthFrame;
    int32_t drift = 0;
    double position = -1.0;  // -1: not placed yet
    ScratchBounds bounds;

protected:
    // For a kind that takes over a scratch of another format.
    ScratchObject(const ScratchObject& other)
        : lastFrame(other.lastFrame), lifetime(other.lifetime), birthFrame(other.birthFrame), drift(other.drift),
          position(other.position), bounds(other.bounds) {
        sLive.fetch_add(1, std::memory_order_relaxed);
    }

private:
    static inline std::atomic<int64_t> sLive{0};
};

// Oldest first. A null entry is a scratch that could not be made: it counts toward the size
// and is passed over.
struct ScratchList {
    std::list<std::unique_ptr<ScratchEntry>> entries;

    void destroyAll() { entries.clear(); }
};

// The scratch an entry holds; null for an empty entry.
inline ScratchObject* scratchAt(const std::unique_ptr<ScratchEntry>& entry) {
    return static_cast<ScratchObject*>(entry.get());
}
