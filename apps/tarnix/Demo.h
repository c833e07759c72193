// `tarnix demo`: a synthetic clip rendered with the heavy preset, written as a before/after
// video and a contact sheet. Four seconds, so that scratches are born, drift and die on screen.
#pragma once

#include <string>

namespace tarnix {

struct DemoOptions {
    std::string directory = "out";
    std::string module;
    bool quiet = false;
    int width = 640, height = 360, frames = 96;
};

void runDemo(const DemoOptions& options);

}  // namespace tarnix
