#include "apps/tarnix/Progress.h"

#include <cstdio>
#include <unistd.h>

namespace tarnix {

std::string formatDuration(double seconds) {
    const long total = seconds < 0 ? 0 : long(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, (total / 60) % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

Progress::Progress(bool enabled, int64_t total)
    : mShown(enabled && ::isatty(2)), mTotal(total), mStart(std::chrono::steady_clock::now()), mLast(mStart) {}

Progress::~Progress() { finish(); }

void Progress::update(int64_t done) {
    if (!mShown) return;
    const auto now = std::chrono::steady_clock::now();
    // A few redraws a second are enough to read and cost nothing.
    if (mDrawn && now - mLast < std::chrono::milliseconds(200) && done != mTotal) return;
    mLast = now;
    const double elapsed = std::chrono::duration<double>(now - mStart).count();
    const double fps = elapsed > 0 ? double(done) / elapsed : 0;
    char line[160];
    if (mTotal > 0) {
        const double left = fps > 0 ? double(mTotal - done) / fps : 0;
        std::snprintf(line, sizeof line, "\rframe %lld/%lld  %.1f fps  %s left   ", (long long)done, (long long)mTotal,
                      fps, formatDuration(left).c_str());
    } else {
        std::snprintf(line, sizeof line, "\rframe %lld  %.1f fps  %s elapsed   ", (long long)done, fps,
                      formatDuration(elapsed).c_str());
    }
    std::fputs(line, stderr);
    std::fflush(stderr);
    mDrawn = true;
}

void Progress::finish() {
    if (!mDrawn) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    mDrawn = false;
}

}  // namespace tarnix
