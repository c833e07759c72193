// OUTPUT is written under a temporary name beside it and renamed into place only when
// everything succeeded: an error, a kill or Ctrl-C never leaves a half-written OUTPUT.
#pragma once

#include <string>
#include <vector>

#include "apps/tarnix/Media.h"

namespace tarnix {

// Fails when OUTPUT is a folder, or its folder does not exist or cannot be written in.
void checkOutputFolder(const std::string& path);

class SafeOutput {
public:
    // Fails when OUTPUT exists and `overwrite` is false, or when its folder is not writable.
    SafeOutput(const OutputPlan& plan, bool overwrite);
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Where ffmpeg writes: the temporary file, or the pattern inside a temporary folder.
    const std::string& target() const { return mTarget; }
    // Moves the result into place; returns how many files it placed.
    size_t commit();
    // Removes what was written so far (also done by the destructor unless committed).
    void discard();

    // Removes every temporary path still open, for a second Ctrl-C that cannot wait.
    static void discardAllNow();

private:
    OutputPlan mPlan;
    bool mOverwrite;
    std::string mTemp;    // file, or folder for sequences
    std::string mTarget;
    bool mDone = false;
};

}  // namespace tarnix
