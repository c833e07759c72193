// A one-line progress report on stderr while frames render: frames, speed, time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnix {

std::string formatDuration(double seconds);  // "0:42", "1:02:03"

class Progress {
public:
    // Shown only when `enabled` and stderr is a terminal; `total` is -1 when unknown.
    Progress(bool enabled, int64_t total);
    ~Progress();
    void update(int64_t done);
    // Clears the line so later messages start clean.
    void finish();

private:
    bool mShown;
    int64_t mTotal;
    std::chrono::steady_clock::time_point mStart, mLast;
    bool mDrawn = false;
};

}  // namespace tarnix
