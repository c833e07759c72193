// The image core's whole view of the host: images, memory, frame facts and parameter
// reads. Operations are in the host binding's slot order; constant-answer slots that the
// core never calls are left out.
//
// Any operation may raise a failed host status as an int32_t exception.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"

class PluginRaster_API;
struct ParamDefContext;
struct InstanceData;

class PluginHost_API {
public:
    virtual uint32_t frameWidth() = 0;
    virtual uint32_t frameHeight() = 0;

    virtual void clearOutput() = 0;
    // Rows top..bottom (inclusive), columns left..right-1; null clears the whole image.
    virtual void clearRect(PluginRaster_API* image, const Rect16* rect) = 0;
    virtual void clearImage(PluginRaster_API* image) = 0;
    virtual void copyInputToOutput() = 0;
    // Same rectangle convention as clearRect; the bottom row is clamped to the source.
    virtual void copyRect(PluginRaster_API* source, PluginRaster_API* destination, const Rect16& rect,
                          int16_t destinationLeft, int16_t destinationTop) = 0;
    virtual void copyImage(PluginRaster_API* source, PluginRaster_API* destination) = 0;

    virtual PluginRaster_API* inputRaster(int32_t index) = 0;
    virtual PluginRaster_API* outputRaster() = 0;
    virtual PluginRaster_API* wrapRaster(const RasterDesc& desc) = 0;
    // Null when the pixel memory cannot be had; *status then says why.
    virtual PluginRaster_API* allocateRaster(int32_t width, int32_t height, int32_t depthKind, int32_t* status) = 0;
    virtual void freeRasterMemory(PluginRaster_API* raster) = 0;

    virtual bool isKind800() = 0;
    virtual double scaleX() = 0;
    virtual double scaleY() = 0;
    virtual double pixelAspect(PluginRaster_API* raster) = 0;

    virtual ParamDefContext& definitionContext() = 0;

    virtual void describeInput(RasterDesc* desc) = 0;
    virtual void describeOutput(RasterDesc* desc) = 0;
    virtual void describeRaster(PluginRaster_API* raster, RasterDesc* desc) = 0;

    // The C runtime's maths, single and double precision.
    virtual float sqrtf(float x) = 0;
    virtual double sqrt(double x) = 0;
    virtual float floorf(float x) = 0;
    virtual double floor(double x) = 0;
    virtual float expf(float x) = 0;
    virtual double exp(double x) = 0;
    virtual float atan2f(float y, float x) = 0;
    virtual double atan2(double y, double x) = 0;
    virtual float fabsf(float x) = 0;
    virtual double fabs(double x) = 0;
    virtual float sinf(float x) = 0;
    virtual double sin(double x) = 0;
    virtual float cosf(float x) = 0;
    virtual double cos(double x) = 0;
    virtual float fmodf(float x, float y) = 0;
    virtual double fmod(double x, double y) = 0;
    virtual float powf(float x, float y) = 0;
    virtual double pow(double x, double y) = 0;
    virtual double ceil(double x) = 0;
    virtual float ceilf(float x) = 0;
    virtual double log(double x) = 0;
    virtual float logf(float x) = 0;

    // Whether the host composites this blend mode itself.
    virtual bool hostComposites(int32_t mode) = 0;

    virtual void* allocate(int32_t size) = 0;
    virtual void release(void* block) = 0;
    virtual void reportError(const char* text) = 0;

    virtual bool loadLibrary(const char* path) = 0;
    virtual void freeLibrary() = 0;

    virtual void effectSize(int32_t* width, int32_t* height) = 0;
    virtual int32_t effectNumber() = 0;
    virtual int32_t frameNumber() = 0;

    virtual InstanceData* instanceData() = 0;
    virtual void setInstanceData(InstanceData* data) = 0;
    virtual void storedPair(int32_t* first, int32_t* second) = 0;
    virtual void setStoredPair(int32_t first, int32_t second) = 0;

    // Parameter reads by slot index at a time.
    virtual double readDouble(int32_t slot, double time) = 0;
    virtual int32_t readInteger(int32_t slot, double time) = 0;
    virtual bool readBoolean(int32_t slot, double time) = 0;
    virtual void readPoint(int32_t slot, double time, double* x, double* y) = 0;
    virtual void readColor(int32_t firstSlot, double time, double rgb[3]) = 0;

    virtual void* storedPointer() = 0;
    virtual void setStoredPointer(void* pointer) = 0;

    virtual void releaseRaster(PluginRaster_API* raster) = 0;

    virtual bool isFieldRendering() = 0;
    virtual void fieldRows(int32_t* start, int32_t* step, int32_t* rows) = 0;
    virtual PluginRaster_API* secondInputRaster() = 0;
    virtual void setOutputOverride(PluginRaster_API* raster) = 0;
    virtual double fieldFactor() = 0;
    virtual int32_t fullRowCount(int32_t rows) = 0;

protected:
    ~PluginHost_API() = default;
};
