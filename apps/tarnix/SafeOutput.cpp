#include "apps/tarnix/SafeOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <unistd.h>

#include "apps/tarnix/Failure.h"

namespace tarnix {

namespace {

std::mutex gLiveLock;
std::set<std::string> gLive;  // temporary paths not yet committed or discarded

namespace fs = std::filesystem;

std::string directoryOf(const std::string& path) {
    const std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

std::string baseName(const std::string& path) { return fs::path(path).filename().string(); }

// What cannot be removed is left; nothing depends on it being gone.
void removeTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

// Names of the form ".NAME.tarnix-PID.part"; those of processes that are gone are left-overs
// of a render that was killed outright.
std::string tempPrefix(const std::string& name) { return "." + name + ".tarnix-"; }

void removeStaleTemporaries(const std::string& directory, const std::string& name) {
    const std::string prefix = tempPrefix(name);
    std::vector<std::string> stale;
    std::error_code error;
    for (auto it = fs::directory_iterator(directory, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (entry.rfind(prefix, 0) != 0 || entry.size() < prefix.size() + 6 || entry.compare(entry.size() - 5, 5, ".part") != 0)
            continue;
        const long pid = std::strtol(entry.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH) stale.push_back(directory + "/" + entry);
    }
    for (const std::string& path : stale) removeTree(path);
}

// On the disk before it gets its final name; a late write error (a full disk with delayed
// allocation) shows here. Returns errno, 0 when all is well.
int syncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL ? 0 : error;  // some file systems cannot sync; nothing is lost by that
}

// Renames without replacing an existing file unless asked; false with errno on failure.
bool place(const std::string& from, const std::string& to, bool overwrite) {
    if (overwrite) return ::rename(from.c_str(), to.c_str()) == 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the flag: a hard link fails as atomically when `to` exists.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

void checkOutputFolder(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error))
        throw Failure(Exit::Output, path + " is a folder; name a file in it, such as " +
                                        (path.back() == '/' ? path : path + "/") + "out.mkv");
    const std::string directory = directoryOf(path);
    if (!fs::is_directory(directory, error))
        throw Failure(Exit::Output, "cannot write " + path + ": the folder " + directory + " does not exist");
    if (::access(directory.c_str(), W_OK) != 0)
        throw Failure(Exit::Output, "cannot write in " + directory + ": " + std::strerror(errno));
}

SafeOutput::SafeOutput(const OutputPlan& plan, bool overwrite) : mPlan(plan), mOverwrite(overwrite) {
    checkOutputFolder(plan.path);
    const std::string directory = directoryOf(plan.path);
    std::error_code error;
    const fs::file_status present = fs::symlink_status(plan.path, error);
    if (plan.sequence) {
        const std::vector<int64_t> existing = plan.pattern->present();
        if (!existing.empty() && !overwrite) {
            const std::string more = existing.size() > 1 ? " and " + std::to_string(existing.size() - 1) + " more" : "";
            throw Failure(Exit::Output, plan.pattern->path(existing.front()) + more +
                                            " already exist; add -y to replace them");
        }
    } else if (fs::exists(present)) {
        if (fs::is_directory(present)) throw Failure(Exit::Output, plan.path + " is a folder");
        if (!overwrite) throw Failure(Exit::Output, plan.path + " already exists; add -y to replace it");
    }

    const std::string name = plan.sequence ? plan.pattern->prefix + "sequence" : baseName(plan.path);
    removeStaleTemporaries(directory, name);
    mTemp = directory + "/" + tempPrefix(name) + std::to_string(::getpid()) + ".part";
    {
        std::lock_guard<std::mutex> guard(gLiveLock);
        gLive.insert(mTemp);
    }
    if (plan.sequence) {
        if (!fs::create_directory(mTemp, error) && error)
            throw Failure(Exit::Output, "cannot write in " + directory + ": " + std::strerror(error.value()));
        mTarget = mTemp + "/" + baseName(plan.path);
    } else {
        mTarget = mTemp;
    }
}

SafeOutput::~SafeOutput() { discard(); }

void SafeOutput::discard() {
    if (mDone) return;
    mDone = true;
    removeTree(mTemp);
    std::lock_guard<std::mutex> guard(gLiveLock);
    gLive.erase(mTemp);
}

void SafeOutput::discardAllNow() {
    std::lock_guard<std::mutex> guard(gLiveLock);
    for (const std::string& path : gLive) removeTree(path);
    gLive.clear();
}

size_t SafeOutput::commit() {
    size_t placed = 0;
    if (!mPlan.sequence) {
        if (const int error = syncPath(mTemp))
            throw Failure(Exit::RenderFailed, "cannot write " + mPlan.path + ": " + std::strerror(error));
        if (!place(mTemp, mPlan.path, mOverwrite)) {
            const int error = errno;
            if (error == EEXIST) {
                mDone = true;  // keep the finished render rather than lose it
                throw Failure(Exit::Output, mPlan.path + " appeared while rendering; the render is kept as " + mTemp);
            }
            throw Failure(Exit::Output, "cannot move the render to " + mPlan.path + ": " + std::strerror(error));
        }
        placed = 1;
    } else {
        std::vector<std::string> names;
        std::error_code error;
        for (auto it = fs::directory_iterator(mTemp, error); !error && it != fs::directory_iterator(); it.increment(error))
            if (const std::string n = it->path().filename().string(); n[0] != '.') names.push_back(n);
        const std::string directory = directoryOf(mPlan.path);
        for (const std::string& n : names) {
            if (const int error = syncPath(mTemp + "/" + n))
                throw Failure(Exit::RenderFailed, "cannot write " + n + ": " + std::strerror(error));
            if (!place(mTemp + "/" + n, directory + "/" + n, mOverwrite)) {
                const int error = errno;
                mDone = true;
                throw Failure(Exit::Output, "cannot move " + n + " into " + directory + ": " + std::strerror(error) +
                                                "; the rest of the render is kept in " + mTemp);
            }
            ++placed;
        }
        ::rmdir(mTemp.c_str());
    }
    syncPath(directoryOf(mPlan.path));  // the new name itself; its failure loses no data
    mDone = true;
    std::lock_guard<std::mutex> guard(gLiveLock);
    gLive.erase(mTemp);
    return placed;
}

}  // namespace tarnix
