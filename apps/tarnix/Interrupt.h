// Ctrl-C and termination signals, handled on a thread of our own rather than in a signal
// handler: the first one runs the registered hooks (stop ffmpeg, wake the render loop) so
// the command unwinds and removes its temporary output; a second one removes it at once
// and exits.
#pragma once

#include <functional>

namespace tarnix::interrupt {

// Call once, before any other thread starts, so every thread inherits the blocked signals.
void install();
bool requested();
int signalNumber();

class Hook {
public:
    explicit Hook(std::function<void()> onSignal);
    ~Hook();
    Hook(const Hook&) = delete;
    Hook& operator=(const Hook&) = delete;

private:
    int mId;
};

}  // namespace tarnix::interrupt
