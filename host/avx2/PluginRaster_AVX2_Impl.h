// A raster over a host image, or over a description the plug-in owns (memory it made).
#pragma once

#include <memory>

#include "lib/Common/PluginRaster_API.h"
#include "lib/Common/RasterDesc.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"

class PluginRaster_AVX2_Impl final : public PluginRaster_API {
public:
    PluginRaster_AVX2_Impl(PluginHost_API* host, IAVXImage* image, std::unique_ptr<RasterDesc> desc)
        : mImage(image), mDesc(std::move(desc)), mHost(host) {}

    IAVXImage* image() const { return mImage; }
    const RasterDesc* ownDesc() const { return mDesc.get(); }

    void destroy() override { delete this; }
    int32_t width() override;
    int32_t height() override;
    int32_t depthKind() override;
    int32_t rowBytes() override;
    void bindHost(PluginHost_API* host) override { mHost = host; }
    int32_t lastColumn() override { return width() - 1; }
    int32_t lastRow() override { return height() - 1; }

private:
    ~PluginRaster_AVX2_Impl() = default;

    IAVXImage* mImage;  // not owned
    std::unique_ptr<RasterDesc> mDesc;
    PluginHost_API* mHost;
    [[maybe_unused]] bool mFlag = false;  // part of the raster as the binding defines it; nothing reads it
};
