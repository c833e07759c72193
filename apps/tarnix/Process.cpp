#include "apps/tarnix/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "apps/tarnix/Failure.h"

namespace tarnix {

namespace {

constexpr size_t kErrorTextLimit = 8192;
// Frames cross the pipes in large pieces: a pipe of the default 64 KiB wakes the reader and
// the writer some 130 times per 1080p frame. A pipe larger than a core's cache costs more
// than it saves, as what the writer copies in has left the cache when the reader copies it out.
constexpr int kFramePipeBytes = 256 << 10;

void pipeOrThrow(int fds[2], bool frames = false) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw Failure(Exit::RenderFailed, std::string("cannot create a pipe: ") + std::strerror(errno));
#if defined(F_SETPIPE_SZ)
    // A smaller pipe only costs speed: a refusal is not an error.
    if (frames) ::fcntl(fds[0], F_SETPIPE_SZ, kFramePipeBytes);
#else
    (void)frames;
#endif
}

// The environment of a child that frames cross: ours, and unless the user tuned glibc's heap
// themselves, glibc told to back its blocks with huge pages. An ffmpeg that allocates a packet
// per frame gets fresh memory for most frames, which then faults in 2 MiB at a time instead of
// 4 KiB. Keeping frame-sized blocks on the heap instead (its mmap and trim thresholds) saved
// less on raw video and cost x264 more, as its heap then grew by a frame every frame.
std::vector<std::string> frameChildEnvironment() {
    static const char* const kOwn[] = {"GLIBC_TUNABLES=", "MALLOC_MMAP_THRESHOLD_=", "MALLOC_TRIM_THRESHOLD_="};
    std::vector<std::string> env;
    bool own = false;
    for (char** e = environ; e && *e; ++e) {
        env.emplace_back(*e);
        for (const char* prefix : kOwn) own = own || env.back().rfind(prefix, 0) == 0;
    }
    if (!own) env.push_back("GLIBC_TUNABLES=glibc.malloc.hugetlb=1");
    return env;
}

}  // namespace

std::string findOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty entry means the current folder.
        const std::string dir = end > start ? dirs.substr(start, end - start) : std::string(1, '.');
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Stream in, Stream out) {
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (in == Stream::Pipe) pipeOrThrow(inPipe, true);
    if (out == Stream::Pipe) pipeOrThrow(outPipe, true);
    pipeOrThrow(errPipe);

    // Everything the child needs is prepared before fork: between fork and exec only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const bool frames = in == Stream::Pipe || out == Stream::Pipe;
    const std::vector<std::string> env = frames ? frameChildEnvironment() : std::vector<std::string>{};
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();

    mPid = ::fork();
    if (mPid < 0) throw Failure(Exit::RenderFailed, std::string("cannot start ") + argv[0] + ": " + std::strerror(errno));
    if (mPid == 0) {
        // Its own process group: Ctrl-C reaches tarnix, which then stops the child itself.
        ::setpgid(0, 0);
#if defined(__linux__)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
#else
        (void)parent;
#endif
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        const int nullFd = ::open("/dev/null", O_RDWR);
        ::dup2(in == Stream::Pipe ? inPipe[0] : nullFd, 0);
        ::dup2(out == Stream::Pipe ? outPipe[1] : nullFd, 1);
        ::dup2(errPipe[1], 2);
        if (nullFd > 2) ::close(nullFd);
        if (frames)
            ::execve(args[0], args.data(), envp.data());
        else
            ::execv(args[0], args.data());
        const char message[] = "cannot execute the program\n";
        ssize_t ignored = ::write(2, message, sizeof message - 1);
        (void)ignored;
        ::_exit(127);
    }
    if (in == Stream::Pipe) {
        ::close(inPipe[0]);
        mIn = inPipe[1];
    }
    if (out == Stream::Pipe) {
        ::close(outPipe[1]);
        mOut = outPipe[0];
    }
    ::close(errPipe[1]);
    mErr = errPipe[0];
    mErrReader = std::thread([this] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(mErr, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            std::lock_guard<std::mutex> guard(mErrLock);
            mErrText.append(buffer, size_t(n));
            if (mErrText.size() > kErrorTextLimit) mErrText.erase(0, mErrText.size() - kErrorTextLimit);
        }
    });
}

ChildProcess::~ChildProcess() {
    if (mStatus < 0 && mPid > 0) {
        kill();
        wait();
    }
    closeStdin();
    closeStdout();
    if (mErrReader.joinable()) mErrReader.join();
    if (mErr >= 0) ::close(mErr);
}

void ChildProcess::closeStdin() {
    if (mIn >= 0) ::close(mIn);
    mIn = -1;
}

void ChildProcess::closeStdout() {
    if (mOut >= 0) ::close(mOut);
    mOut = -1;
}

int ChildProcess::wait() {
    if (mStatus >= 0 || mPid <= 0) return mStatus;
    int status = 0;
    while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
    }
    mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    // The child is gone; what it wrote on stderr is complete once the pipe drains.
    if (mErrReader.joinable()) mErrReader.join();
    return mStatus;
}

void ChildProcess::kill() {
    if (mStatus < 0 && mPid > 0) ::kill(mPid, SIGKILL);
}

std::string ChildProcess::errorText() const {
    std::lock_guard<std::mutex> guard(mErrLock);
    return mErrText;
}

std::string ChildProcess::reason(const std::string& fallback) const {
    std::vector<std::string> lines;
    std::string line;
    for (char c : errorText() + "\n") {
        if (c != '\n' && c != '\r') {
            line += c;
            continue;
        }
        while (!line.empty() && (line.back() == ' ' || line.back() == '-')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
        line.clear();
    }
    if (lines.empty()) return fallback;
    // ffmpeg names the cause in a "[component @ 0x...] reason" line and ends with generic
    // ones ("Error initializing output stream"): the cause is what helps. A cause that stops
    // mid-sentence goes on in the lines below it, which carry no component of their own.
    const auto component = [](const std::string& l) { return l.front() == '[' && l.find("] ") != std::string::npos; };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!component(lines[i])) continue;
        std::string cause = lines[i].substr(lines[i].find("] ") + 2);
        while (++i < lines.size() && !component(lines[i]) && std::string_view(".!?)").find(cause.back()) == std::string_view::npos)
            cause += " " + lines[i];
        return cause;
    }
    return lines.back();
}

int runCapture(const std::vector<std::string>& argv, std::string& out, std::string* err) {
    ChildProcess child(argv, ChildProcess::Stream::Null, ChildProcess::Stream::Pipe);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(child.stdoutFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, size_t(n));
    }
    const int status = child.wait();
    if (err) *err = child.errorText();
    return status;
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, void* data, size_t size, size_t* got) {
    char* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    if (got) *got = done;
    return done == size;
}

}  // namespace tarnix
