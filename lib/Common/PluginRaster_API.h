// One image as the image core sees it: a host image, or pixel memory the plug-in made.
#pragma once

#include <cstdint>

class PluginHost_API;

class PluginRaster_API {
public:
    virtual void destroy() = 0;
    virtual int32_t width() = 0;
    virtual int32_t height() = 0;
    virtual int32_t depthKind() = 0;  // DepthKind: 2 for 8 bytes per pixel, else 0
    virtual int32_t rowBytes() = 0;
    virtual void bindHost(PluginHost_API* host) = 0;
    virtual int32_t lastColumn() = 0;
    virtual int32_t lastRow() = 0;

protected:
    ~PluginRaster_API() = default;
};
