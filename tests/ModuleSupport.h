// Loading the built module for end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include "refhost/Faults.h"
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

// A test with the built module loaded and a host session open on it. Afterwards the session
// closes (the module may unload once every component is gone), no host memory stays taken and
// every host object handed out has been released.
class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        refhost::faults().reset();
        objectsBefore = refhost::liveObjects();
        module = loadModule();
        ASSERT_TRUE(module);
        session = std::make_unique<refhost::HostSession>(*module, nullptr);
        ASSERT_EQ(session->open(), ACF_OK);
    }
    void TearDown() override {
        refhost::faults().reset();
        if (session) {
            EXPECT_EQ(session->close(), ACF_OK);
            EXPECT_EQ(session->host()->memory().liveBlocks(), 0);
        }
        session.reset();
        module.reset();
        EXPECT_EQ(refhost::liveObjects(), objectsBefore);
    }

    long objectsBefore = 0;
    std::unique_ptr<refhost::PluginModule> module;
    std::unique_ptr<refhost::HostSession> session;
};

}  // namespace module_support
