// The host services of one render call (or of a registration), implemented over the host
// SDK's interfaces. Lives on the stack of the call that made it.
#pragma once

#include <cstdint>

#include "lib/Common/PluginHost_API.h"
#include "params/ParamDefContext.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"

class PluginRaster_AVX2_Impl;

class PluginHost_AVX2_Impl final : public PluginHost_API {
public:
    explicit PluginHost_AVX2_Impl(IACFUnknown* hostComponent);
    ~PluginHost_AVX2_Impl();
    PluginHost_AVX2_Impl(const PluginHost_AVX2_Impl&) = delete;
    PluginHost_AVX2_Impl& operator=(const PluginHost_AVX2_Impl&) = delete;

    // The render call's objects; none is owned here (the render entry holds them).
    IACFUnknown* effect = nullptr;
    IACFUnknown* effectSecondFace = nullptr;
    IAVXEffectContext* effectContext = nullptr;
    IACFUnknown* storedContext2 = nullptr;
    IACFUnknown* storedContext3 = nullptr;
    IAVXFrameContext* frameContext = nullptr;
    IACFUnknown* storedObject5 = nullptr;
    IAVXRenderContext* renderContext = nullptr;
    IAVXImageSource* output = nullptr;
    IAVXImage* inputImage = nullptr;
    IAVXImage* outputImage = nullptr;

    int32_t mFrameNumber = 0;
    uint32_t mFieldLayout = 0;
    uint32_t mRenderValue = 0;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    int32_t mFieldStart = 0;
    int32_t mFieldStep = 1;
    double mFieldFactor = 1.0;

    // Fills a description of a host image at the stored frame size.
    void describeImage(IAVXImage* image, RasterDesc* desc);
    // The memory service to use (null: the C runtime) instead of asking the host on first
    // use. An effect instance hands in the one it obtained once, so that what a render or
    // its destruction gives back goes where it came from.
    void setMemoryService(IACFMalloc* memory);

    // PluginHost_API
    uint32_t frameWidth() override;
    uint32_t frameHeight() override;
    void clearOutput() override;
    void clearRect(PluginRaster_API* image, const Rect16* rect) override;
    void clearImage(PluginRaster_API* image) override;
    void copyInputToOutput() override;
    void copyRect(PluginRaster_API* source, PluginRaster_API* destination, const Rect16& rect,
                  int16_t destinationLeft, int16_t destinationTop) override;
    void copyImage(PluginRaster_API* source, PluginRaster_API* destination) override;
    PluginRaster_API* inputRaster(int32_t index) override;
    PluginRaster_API* outputRaster() override;
    PluginRaster_API* wrapRaster(const RasterDesc& desc) override;
    PluginRaster_API* allocateRaster(int32_t width, int32_t height, int32_t depthKind, int32_t* status) override;
    void freeRasterMemory(PluginRaster_API* raster) override;
    bool isKind800() override;
    double scaleX() override;
    double scaleY() override;
    double pixelAspect(PluginRaster_API* raster) override;
    ParamDefContext& definitionContext() override { return mDefinitions; }
    void describeInput(RasterDesc* desc) override;
    void describeOutput(RasterDesc* desc) override;
    void describeRaster(PluginRaster_API* raster, RasterDesc* desc) override;
    float sqrtf(float x) override;
    double sqrt(double x) override;
    float floorf(float x) override;
    double floor(double x) override;
    float expf(float x) override;
    double exp(double x) override;
    float atan2f(float y, float x) override;
    double atan2(double y, double x) override;
    float fabsf(float x) override;
    double fabs(double x) override;
    float sinf(float x) override;
    double sin(double x) override;
    float cosf(float x) override;
    double cos(double x) override;
    float fmodf(float x, float y) override;
    double fmod(double x, double y) override;
    float powf(float x, float y) override;
    double pow(double x, double y) override;
    double ceil(double x) override;
    float ceilf(float x) override;
    double log(double x) override;
    float logf(float x) override;
    bool hostComposites(int32_t) override { return false; }
    void* allocate(int32_t size) override;
    void release(void* block) override;
    void reportError(const char*) override {}
    bool loadLibrary(const char* path) override;
    void freeLibrary() override;
    void effectSize(int32_t* width, int32_t* height) override;
    int32_t effectNumber() override;
    int32_t frameNumber() override { return mFrameNumber; }
    InstanceData* instanceData() override { return mInstanceData; }
    void setInstanceData(InstanceData* data) override { mInstanceData = data; }
    void storedPair(int32_t* first, int32_t* second) override;
    void setStoredPair(int32_t first, int32_t second) override;
    double readDouble(int32_t slot, double time) override;
    int32_t readInteger(int32_t slot, double time) override;
    bool readBoolean(int32_t slot, double time) override;
    void readPoint(int32_t slot, double time, double* x, double* y) override;
    void readColor(int32_t firstSlot, double time, double rgb[3]) override;
    void* storedPointer() override { return mStoredPointer; }
    void setStoredPointer(void* pointer) override { mStoredPointer = pointer; }
    void releaseRaster(PluginRaster_API* raster) override;
    bool isFieldRendering() override { return mFieldStep != 1; }
    void fieldRows(int32_t* start, int32_t* step, int32_t* rows) override;
    PluginRaster_API* secondInputRaster() override { return nullptr; }
    void setOutputOverride(PluginRaster_API* raster) override { mOutputOverride = raster; }
    double fieldFactor() override { return mFieldFactor; }
    int32_t fullRowCount(int32_t rows) override;

private:
    IACFUnknown* mHostComponent;
    ParamDefContext mDefinitions;
    InstanceData* mInstanceData = nullptr;
    int32_t mStoredPair[2] = {0, 0};
    void* mStoredPointer = nullptr;
    PluginRaster_API* mOutputOverride = nullptr;
    void* mLibrary = nullptr;
    AcfPtr<IACFMalloc> mMemory;
    bool mMemoryLooked = false;

    IACFMalloc* memoryService();
    double scaleRatio(int32_t numeratorIndex);
    template <class T>
    T readSlot(int32_t slot, double time, const acfUID& type);
};
