// Child processes (ffmpeg, ffprobe) with pipes, their stderr kept for error messages, and
// tied to tarnix's life: they get no terminal signals of their own and die with tarnix.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {

// The full path of `program` found on PATH, or empty.
std::string findOnPath(const std::string& program);

class ChildProcess {
public:
    enum class Stream { Null, Pipe };

    // argv[0] is the program's full path. Call from the main thread only: the child is
    // killed when the thread that started it ends.
    ChildProcess(const std::vector<std::string>& argv, Stream in, Stream out);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int stdinFd() const { return mIn; }
    int stdoutFd() const { return mOut; }
    void closeStdin();
    void closeStdout();

    // Exit status, or 128 + signal number; waits once, later calls return the same.
    int wait();
    void kill();
    pid_t pid() const { return mPid; }
    // The last lines the child wrote on stderr.
    std::string errorText() const;
    // Why the child failed, on one line, from errorText(); `fallback` when it said nothing.
    std::string reason(const std::string& fallback) const;

private:
    pid_t mPid = -1;
    int mIn = -1, mOut = -1, mErr = -1;
    int mStatus = -1;
    std::thread mErrReader;
    mutable std::mutex mErrLock;
    std::string mErrText;
};

// Runs to completion; returns the exit status and fills `out` with stdout.
int runCapture(const std::vector<std::string>& argv, std::string& out, std::string* err = nullptr);

// Writes or reads exactly `size` bytes; false on end of stream or error (errno kept).
bool writeAll(int fd, const void* data, size_t size);
bool readAll(int fd, void* data, size_t size, size_t* got = nullptr);

}  // namespace tarnix
