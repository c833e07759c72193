// Loading the built module for end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include "refhost/Module.h"

namespace module_support {

inline std::unique_ptr<refhost::PluginModule> loadModule() {
    std::string error;
    auto module = refhost::PluginModule::load(TARNIX_MODULE_PATH, &error);
    EXPECT_TRUE(module) << error;
    return module;
}

inline refhost::ImageSpec imageSpec(refhost::PixelLayout layout, uint32_t w, uint32_t h, int32_t padding = 16) {
    refhost::ImageSpec s;
    s.width = w;
    s.height = h;
    s.layout = layout;
    s.rowPadding = padding;
    return s;
}

}  // namespace module_support
