// A one-line progress report on stderr while frames render: frames, speed, time left, and,
// for a render through ffmpeg, how fast the plug-in alone renders and how much of the time
// the render waited on ffmpeg (a high share means ffmpeg, not the look, sets the pace).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnix {

std::string formatDuration(double seconds);  // "0:42", "1:02:03"

// The line's text: `total` -1 when unknown; `rendering` and `waiting` (seconds in the plug-in
// and waiting on ffmpeg) below 0 when not measured.
std::string progressText(int64_t done, int64_t total, double elapsed, double rendering = -1, double waiting = -1);

class Progress {
public:
    // Shown only when `enabled` and stderr is a terminal; `total` is -1 when unknown.
    Progress(bool enabled, int64_t total);
    ~Progress();
    void update(int64_t done, double rendering = -1, double waiting = -1);
    // Clears the line so later messages start clean.
    void finish();

private:
    bool mShown;
    int64_t mTotal;
    std::chrono::steady_clock::time_point mStart, mLast;
    bool mDrawn = false;
};

}  // namespace tarnix
