#include "apps/tarnix/Progress.h"

#include <algorithm>
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

std::string progressText(int64_t done, int64_t total, double elapsed, double rendering, double waiting) {
    const double fps = elapsed > 0 ? double(done) / elapsed : 0;
    char line[200];
    int n = total > 0 ? std::snprintf(line, sizeof line, "frame %lld/%lld  %.1f fps", (long long)done, (long long)total, fps)
                      : std::snprintf(line, sizeof line, "frame %lld  %.1f fps", (long long)done, fps);
    if (rendering > 0)
        n += std::snprintf(line + n, sizeof line - size_t(n), "  render %.1f fps", double(done) / rendering);
    if (waiting >= 0 && elapsed > 0)
        n += std::snprintf(line + n, sizeof line - size_t(n), "  waiting on ffmpeg %d%%",
                           int(100.0 * std::min(waiting / elapsed, 1.0) + 0.5));
    if (total > 0)
        std::snprintf(line + n, sizeof line - size_t(n), "  %s left",
                      formatDuration(fps > 0 ? double(total - done) / fps : 0).c_str());
    else
        std::snprintf(line + n, sizeof line - size_t(n), "  %s elapsed", formatDuration(elapsed).c_str());
    return line;
}

Progress::Progress(bool enabled, int64_t total)
    : mShown(enabled && ::isatty(2)), mTotal(total), mStart(std::chrono::steady_clock::now()), mLast(mStart) {}

Progress::~Progress() { finish(); }

void Progress::update(int64_t done, double rendering, double waiting) {
    if (!mShown) return;
    const auto now = std::chrono::steady_clock::now();
    // A few redraws a second are enough to read and cost nothing.
    if (mDrawn && now - mLast < std::chrono::milliseconds(200) && done != mTotal) return;
    mLast = now;
    const double elapsed = std::chrono::duration<double>(now - mStart).count();
    // Drawn over the last one: the spaces wipe what a longer line left.
    std::fprintf(stderr, "\r%s   ", progressText(done, mTotal, elapsed, rendering, waiting).c_str());
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
