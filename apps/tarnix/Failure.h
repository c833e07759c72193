// One clear line and an exit code for everything that can stop a command.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnix {

// Exit codes, one per kind of trouble, so scripts can tell them apart.
enum class Exit : int {
    Ok = 0,
    RenderFailed = 1,   // the plug-in, ffmpeg or the disk failed while rendering
    Usage = 2,          // bad command line, parameter name, value or preset
    Input = 3,          // INPUT missing, unreadable or not media
    Output = 4,         // OUTPUT exists (without -y) or cannot be written
    Environment = 5,    // ffmpeg or the module missing
    Interrupted = 130,  // Ctrl-C; a termination signal gives 128 + its number
};

class Failure : public std::runtime_error {
public:
    Failure(Exit code, const std::string& message) : std::runtime_error(message), mCode(code) {}
    Exit code() const { return mCode; }

private:
    Exit mCode;
};

}  // namespace tarnix
