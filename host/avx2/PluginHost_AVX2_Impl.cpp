#include "host/avx2/PluginHost_AVX2_Impl.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/avx2/PluginRaster_AVX2_Impl.h"
#include "lib/Common/FloatMath.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/Status.h"
#include "params/ParameterSet.h"
#include "platform/platform.h"
#include "sdk/sdk_ids.h"

namespace {

PluginRaster_AVX2_Impl* asImpl(PluginRaster_API* raster) { return static_cast<PluginRaster_AVX2_Impl*>(raster); }

uint32_t layoutCode(bool rgb, bool sixteenBit, bool bgra) {
    if (rgb) return sixteenBit ? (bgra ? FORMAT_BGRA14 : FORMAT_ARGB14) : (bgra ? FORMAT_BGRA8 : FORMAT_ARGB8);
    return sixteenBit ? (bgra ? FORMAT_OTHER16_B : FORMAT_OTHER16_A) : (bgra ? FORMAT_OTHER8_B : FORMAT_OTHER8_A);
}

void zeroRows(const RasterDesc& d, int32_t top, int32_t bottom, int32_t left, int32_t right) {
    if (!d.pixels) return;
    top = std::max(top, 0);
    bottom = std::min(bottom, d.height - 1);
    left = std::max(left, 0);
    right = std::min(right, d.width);
    if (top > bottom || left >= right) return;
    for (int32_t y = top; y <= bottom; ++y)
        std::memset(d.pixels + int64_t(y) * d.rowBytes + int64_t(left) * d.bytesPerPixel, 0,
                    size_t(int64_t(right - left) * d.bytesPerPixel));
}

}  // namespace

PluginHost_AVX2_Impl::PluginHost_AVX2_Impl(IACFUnknown* hostComponent) : mHostComponent(hostComponent) {
    mDefinitions.hostComponent = hostComponent;
}

PluginHost_AVX2_Impl::~PluginHost_AVX2_Impl() { freeLibrary(); }

void PluginHost_AVX2_Impl::describeImage(IAVXImage* image, RasterDesc* desc) {
    *desc = RasterDesc{};
    if (!image) return;
    void* pixels = nullptr;
    raiseIfFailed(image->GetPixels(mFieldStart, &pixels));
    AcfPtr<IAVXImageFormat> format;
    raiseIfFailed(image->GetFormat(format.out()));
    int32_t sizeCode = 0, colorSpace = 0, order = 0;
    raiseIfFailed(format->GetComponentSize(&sizeCode));
    raiseIfFailed(format->GetColorSpace(&colorSpace));
    const bool rgb = colorSpace == AVX_COLORSPACE_RGB;
    raiseIfFailed(format->GetChannelOrder(rgb ? 3 : 4, &order));
    const bool sixteenBit = sizeCode == AVX_COMPONENT_16BIT;
    int32_t stride = 0;
    raiseIfFailed(image->GetRowStride(&stride));
    float aspect = 1.0f;
    raiseIfFailed(image->GetPixelAspect(&aspect));

    desc->pixels = static_cast<uint8_t*>(pixels);
    desc->format = layoutCode(rgb, sixteenBit, order == AVX_ORDER_BGRA);
    desc->width = int32_t(mWidth);
    desc->height = int32_t(mHeight);
    desc->rowBytes = stride * mFieldStep;
    desc->bytesPerPixel = sixteenBit ? 8 : 4;
    desc->pixelAspect = aspect;
    desc->scale = 1.0f;
    desc->notRGB = !rgb;
}

uint32_t PluginHost_AVX2_Impl::frameWidth() {
    return mOutputOverride ? uint32_t(mOutputOverride->width()) : mWidth;
}

uint32_t PluginHost_AVX2_Impl::frameHeight() {
    return mOutputOverride ? uint32_t(mOutputOverride->height()) : mHeight;
}

void PluginHost_AVX2_Impl::clearOutput() {
    RasterDesc d;
    describeOutput(&d);
    zeroRows(d, 0, d.height - 1, 0, d.width);
}

void PluginHost_AVX2_Impl::clearRect(PluginRaster_API* image, const Rect16* rect) {
    RasterDesc d;
    describeRaster(image, &d);
    if (!rect) {
        zeroRows(d, 0, d.height - 1, 0, d.width);
        return;
    }
    zeroRows(d, rect->top, rect->bottom, rect->left, rect->right);
}

void PluginHost_AVX2_Impl::clearImage(PluginRaster_API* image) { clearRect(image, nullptr); }

void PluginHost_AVX2_Impl::copyInputToOutput() {
    RasterDesc from, to;
    describeInput(&from);
    describeOutput(&to);
    CopyRows(from, to);
}

void PluginHost_AVX2_Impl::copyRect(PluginRaster_API* source, PluginRaster_API* destination, const Rect16& rect,
                                    int16_t destinationLeft, int16_t destinationTop) {
    RasterDesc from, to;
    describeRaster(source, &from);
    describeRaster(destination, &to);
    if (!from.pixels || !to.pixels || from.bytesPerPixel != to.bytesPerPixel) return;
    const int32_t bottom = std::min<int32_t>(rect.bottom, from.height - 1);
    for (int32_t y = rect.top; y <= bottom; ++y) {
        const int32_t toY = destinationTop + (y - rect.top);
        if (y < 0 || toY < 0 || toY >= to.height) continue;
        // Columns that fall outside either image are not copied.
        int32_t left = rect.left, right = rect.right;
        int32_t toLeft = destinationLeft;
        if (left < 0) { toLeft -= left; left = 0; }
        if (toLeft < 0) { left -= toLeft; toLeft = 0; }
        right = std::min({right, from.width, left + (to.width - toLeft)});
        if (left >= right) continue;
        std::memcpy(to.pixels + int64_t(toY) * to.rowBytes + int64_t(toLeft) * to.bytesPerPixel,
                    from.pixels + int64_t(y) * from.rowBytes + int64_t(left) * from.bytesPerPixel,
                    size_t(int64_t(right - left) * from.bytesPerPixel));
    }
}

void PluginHost_AVX2_Impl::copyImage(PluginRaster_API* source, PluginRaster_API* destination) {
    RasterDesc from, to;
    describeRaster(source, &from);
    describeRaster(destination, &to);
    CopyRows(from, to);
}

PluginRaster_API* PluginHost_AVX2_Impl::inputRaster(int32_t index) {
    if (index != 0) return secondInputRaster();
    return new PluginRaster_AVX2_Impl(this, inputImage, nullptr);
}

PluginRaster_API* PluginHost_AVX2_Impl::outputRaster() {
    if (mOutputOverride) {
        RasterDesc d;
        describeRaster(mOutputOverride, &d);
        return wrapRaster(d);
    }
    return new PluginRaster_AVX2_Impl(this, outputImage, nullptr);
}

PluginRaster_API* PluginHost_AVX2_Impl::wrapRaster(const RasterDesc& desc) {
    return new PluginRaster_AVX2_Impl(this, nullptr, std::make_unique<RasterDesc>(desc));
}

PluginRaster_API* PluginHost_AVX2_Impl::allocateRaster(int32_t width, int32_t height, int32_t, int32_t* status) {
    // Laid out like the output image whatever depth is asked for.
    RasterDesc layout;
    describeOutput(&layout);
    const uint32_t bpp = layout.bytesPerPixel ? layout.bytesPerPixel : 4;
    // The stages address rasters with 16-bit rectangles and the memory service takes a signed
    // 32-bit size: anything beyond either is refused, and before any product can overflow.
    if (width < 0 || height < 0 || width > INT16_MAX || height > INT16_MAX ||
        int64_t(bpp) * width * height > INT32_MAX) {
        if (status) *status = ACF_E_OUTOFMEMORY;
        return nullptr;
    }
    const int64_t rowBytes = int64_t(bpp) * width;
    const int64_t bytes = rowBytes * height;
    // The description first: should the heap fail here, no pixel memory is held yet.
    auto desc = std::make_unique<RasterDesc>(layout);
    void* pixels = allocate(int32_t(bytes));
    if (!pixels) {
        if (status) *status = ACF_E_OUTOFMEMORY;
        return nullptr;
    }
    desc->pixels = static_cast<uint8_t*>(pixels);
    desc->width = width;
    desc->height = height;
    desc->rowBytes = int32_t(rowBytes);
    desc->bytesPerPixel = bpp;
    desc->scale = 1.0f;
    try {
        PluginRaster_API* raster = new PluginRaster_AVX2_Impl(this, nullptr, std::move(desc));
        if (status) *status = ACF_OK;
        return raster;
    } catch (...) {
        release(pixels);
        throw;
    }
}

void PluginHost_AVX2_Impl::freeRasterMemory(PluginRaster_API* raster) {
    if (!raster) return;
    const RasterDesc* own = asImpl(raster)->ownDesc();
    if (own && own->pixels) {
        release(own->pixels);
        const_cast<RasterDesc*>(own)->pixels = nullptr;
    }
}

void PluginHost_AVX2_Impl::releaseRaster(PluginRaster_API* raster) {
    if (!raster) return;
    freeRasterMemory(raster);
    raster->destroy();
}

bool PluginHost_AVX2_Impl::isKind800() {
    int32_t kind = 0;
    if (effectContext) raiseIfFailed(effectContext->GetKind(&kind));
    return kind == 800;
}

double PluginHost_AVX2_Impl::scaleRatio(int32_t numeratorIndex) {
    if (!effectContext) return 1.0 / mFieldFactor;
    int32_t numerator = 1, denominator = 1;
    raiseIfFailed(effectContext->GetScaleTerm(numeratorIndex, &numerator));
    raiseIfFailed(effectContext->GetScaleTerm(numeratorIndex + 1, &denominator));
    const double ratio = denominator != 0 ? double(numerator) / double(denominator) : 1.0;
    return ratio / mFieldFactor;
}

double PluginHost_AVX2_Impl::scaleX() { return scaleRatio(0); }
double PluginHost_AVX2_Impl::scaleY() { return scaleRatio(2); }

double PluginHost_AVX2_Impl::pixelAspect(PluginRaster_API* raster) {
    RasterDesc d;
    describeRaster(raster, &d);
    return double(d.pixelAspect) / mFieldFactor;
}

void PluginHost_AVX2_Impl::describeInput(RasterDesc* desc) { describeImage(inputImage, desc); }

void PluginHost_AVX2_Impl::describeOutput(RasterDesc* desc) {
    if (mOutputOverride) {
        describeRaster(mOutputOverride, desc);
        return;
    }
    describeImage(outputImage, desc);
}

void PluginHost_AVX2_Impl::describeRaster(PluginRaster_API* raster, RasterDesc* desc) {
    if (!raster) {
        *desc = RasterDesc{};
        return;
    }
    PluginRaster_AVX2_Impl* impl = asImpl(raster);
    if (impl->ownDesc()) {
        *desc = *impl->ownDesc();
        return;
    }
    describeImage(impl->image(), desc);
}

float PluginHost_AVX2_Impl::sqrtf(float x) { return fm::sqrtF(x); }
double PluginHost_AVX2_Impl::sqrt(double x) { return std::sqrt(x); }
float PluginHost_AVX2_Impl::floorf(float x) { return std::floor(x); }
double PluginHost_AVX2_Impl::floor(double x) { return std::floor(x); }
float PluginHost_AVX2_Impl::expf(float x) { return fm::expF(x); }
double PluginHost_AVX2_Impl::exp(double x) { return std::exp(x); }
float PluginHost_AVX2_Impl::atan2f(float y, float x) { return fm::atan2F(y, x); }
double PluginHost_AVX2_Impl::atan2(double y, double x) { return std::atan2(y, x); }
float PluginHost_AVX2_Impl::fabsf(float x) { return std::fabs(x); }
double PluginHost_AVX2_Impl::fabs(double x) { return std::fabs(x); }
float PluginHost_AVX2_Impl::sinf(float x) { return fm::sinF(x); }
double PluginHost_AVX2_Impl::sin(double x) { return std::sin(x); }
float PluginHost_AVX2_Impl::cosf(float x) { return fm::cosF(x); }
double PluginHost_AVX2_Impl::cos(double x) { return std::cos(x); }
float PluginHost_AVX2_Impl::fmodf(float x, float y) { return std::fmod(x, y); }
double PluginHost_AVX2_Impl::fmod(double x, double y) { return std::fmod(x, y); }
float PluginHost_AVX2_Impl::powf(float x, float y) { return fm::powF(x, y); }
double PluginHost_AVX2_Impl::pow(double x, double y) { return std::pow(x, y); }
double PluginHost_AVX2_Impl::ceil(double x) { return std::ceil(x); }
float PluginHost_AVX2_Impl::ceilf(float x) { return std::ceil(x); }
double PluginHost_AVX2_Impl::log(double x) { return std::log(x); }
float PluginHost_AVX2_Impl::logf(float x) { return fm::logF(x); }

void PluginHost_AVX2_Impl::setMemoryService(IACFMalloc* memory) {
    mMemory = AcfPtr<IACFMalloc>::share(memory);
    mMemoryLooked = true;
}

IACFMalloc* PluginHost_AVX2_Impl::memoryService() {
    if (!mMemoryLooked) {
        mMemoryLooked = true;
        if (mHostComponent && ACFFailed(mHostComponent->QueryInterface(IID_IACFMalloc, mMemory.outVoid())))
            mMemory.reset();
    }
    return mMemory.get();
}

void* PluginHost_AVX2_Impl::allocate(int32_t size) {
    // The absolute size, widened first so that INT32_MIN has one.
    const uint64_t bytes = uint64_t(std::llabs(int64_t(size)));
    if (IACFMalloc* memory = memoryService()) return memory->Alloc(bytes);
    return std::malloc(size_t(bytes));
}

void PluginHost_AVX2_Impl::release(void* block) {
    if (!block) return;
    if (IACFMalloc* memory = memoryService())
        memory->Free(block);
    else
        std::free(block);
}

bool PluginHost_AVX2_Impl::loadLibrary(const char* path) {
    freeLibrary();
    // Paths longer than the host's UTF-16 buffer are cut there, as the host would.
    std::string bounded(path ? path : "");
    if (bounded.size() > 1024) bounded.resize(1024);
    mLibrary = platform::loadLibrary(bounded.c_str());
    if (!mLibrary) reportError("Cannot load DLL");
    return mLibrary != nullptr;
}

void PluginHost_AVX2_Impl::freeLibrary() {
    platform::freeLibrary(mLibrary);
    mLibrary = nullptr;
}

void PluginHost_AVX2_Impl::effectSize(int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
    if (effectContext) raiseIfFailed(effectContext->GetEffectSize(width, height));
}

int32_t PluginHost_AVX2_Impl::effectNumber() {
    double number = 0;
    if (effectContext) raiseIfFailed(effectContext->GetEffectNumber(&number));
    // Out-of-range numbers saturate rather than convert undefinedly.
    if (!(number > -2147483648.0)) return number != number ? 0 : INT32_MIN;
    if (number >= 2147483647.0) return INT32_MAX;
    return int32_t(number);
}

void PluginHost_AVX2_Impl::storedPair(int32_t* first, int32_t* second) {
    *first = mStoredPair[0];
    *second = mStoredPair[1];
}

void PluginHost_AVX2_Impl::setStoredPair(int32_t first, int32_t second) {
    mStoredPair[0] = first;
    mStoredPair[1] = second;
}

template <class T>
T PluginHost_AVX2_Impl::readSlot(int32_t slot, double time, const acfUID& type) {
    T value{};
    const acfUID* id = slotIdentifier(slot);
    if (!mDefinitions.valueSource || !id) return value;
    AcfPtr<IAVXParameterValue> parameter;
    raiseIfFailed(mDefinitions.valueSource->GetParameterValue(*id, parameter.out()));
    raiseIfFailed(parameter->GetValueAtTime(time, type, &value, sizeof value));
    return value;
}

double PluginHost_AVX2_Impl::readDouble(int32_t slot, double time) { return readSlot<double>(slot, time, TYPE_Double); }
int32_t PluginHost_AVX2_Impl::readInteger(int32_t slot, double time) {
    return readSlot<int32_t>(slot, time, TYPE_Int32);
}
bool PluginHost_AVX2_Impl::readBoolean(int32_t slot, double time) {
    return readSlot<int32_t>(slot, time, TYPE_Boolean) == 1;
}
void PluginHost_AVX2_Impl::readPoint(int32_t slot, double time, double* x, double* y) {
    *x = readDouble(slot, time) + 0.5;
    *y = readDouble(slot + 1, time) + 0.5;
}
void PluginHost_AVX2_Impl::readColor(int32_t firstSlot, double time, double rgb[3]) {
    for (int i = 0; i < 3; ++i) rgb[i] = readDouble(firstSlot + i, time) / 255.0;
}

void PluginHost_AVX2_Impl::fieldRows(int32_t* start, int32_t* step, int32_t* rows) {
    *start = mFieldStart;
    *step = mFieldStep;
    const int32_t height = int32_t(frameHeight());
    *rows = mFieldStep > 0 && height > mFieldStart ? (height - mFieldStart + mFieldStep - 1) / mFieldStep : 0;
}

int32_t PluginHost_AVX2_Impl::fullRowCount(int32_t rows) {
    return isFieldRendering() ? int32_t(frameHeight()) : rows;
}
