// Render-time host objects: parameter values per effect instance (constant or keyed),
// the effect, frame and render contexts, and the input service.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "refhost/Images.h"
#include "refhost/RefObject.h"
#include "sdk/avx_runtime.h"

namespace refhost {

class EffectDefinition;

// Byte order, as memcmp gives it, but in two big-endian words: parameter lookups run many
// times a frame, and the fuzzer's hook on memcmp records every call.
struct UIDLess {
    bool operator()(const acfUID& a, const acfUID& b) const {
        uint64_t x[2], y[2];
        std::memcpy(x, &a, sizeof x);
        std::memcpy(y, &b, sizeof y);
        for (int i = 0; i < 2; ++i)
            if (x[i] != y[i]) return __builtin_bswap64(x[i]) < __builtin_bswap64(y[i]);
        return false;
    }
};

// A parameter's values over time. Doubles interpolate linearly between keys, integers too
// (rounded to nearest), booleans step; before the first and after the last key the end
// value holds.
struct ValueTrack {
    acfUID type{};
    std::vector<std::pair<double, double>> keys;  // (time, value), sorted by time

    double at(double time) const;
};

class ParameterValues {
public:
    // Every parameter of a registered effect at its default.
    static std::shared_ptr<ParameterValues> fromDefinition(const EffectDefinition& definition);

    void set(const acfUID& id, const acfUID& type, double value);
    void setKeys(const acfUID& id, const acfUID& type, std::vector<std::pair<double, double>> keys);
    void remove(const acfUID& id);
    bool has(const acfUID& id) const;
    const ValueTrack* track(const acfUID& id) const;
    // Host-side read: false for an unknown parameter or a type or size mismatch.
    bool read(const acfUID& id, double time, const acfUID& type, void* out, uint32_t size) const;

private:
    mutable std::mutex mLock;
    std::map<acfUID, ValueTrack, UIDLess> mTracks;
};

class ParameterValue final : public RefObject<IAVXParameterValue> {
public:
    ParameterValue(std::shared_ptr<const ParameterValues> values, const acfUID& id)
        : mValues(std::move(values)), mId(id) {}
    ACFRESULT GetValueAtTime(double time, const acfUID& dataType, void* value, uint32_t size) override;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXParameterValue; }

private:
    std::shared_ptr<const ParameterValues> mValues;
    acfUID mId;
};

class InputService final : public RefObject<IAVXInputService> {
public:
    explicit InputService(Image* image) : mImage(AcfPtr<Image>::share(image)) {}
    ACFRESULT GetInputImage(int32_t frameNumber, uint32_t renderValue, uint32_t fieldLayout, IAVXImage** image) override;

    int32_t askedFrame = 0;
    uint32_t askedRenderValue = 0, askedFieldLayout = 0;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXInputService; }

private:
    AcfPtr<Image> mImage;
};

class EffectContext final : public RefObject<IAVXEffectContext> {
public:
    EffectContext(std::shared_ptr<ParameterValues> values, InputService* input)
        : mValues(std::move(values)), mInput(AcfPtr<InputService>::share(input)) {}

    ACFRESULT GetParameterValue(const acfUID& parameterId, IAVXParameterValue** value) override;
    ACFRESULT GetService(const acfUID& classId, const acfUID& iid, void** out) override;
    ACFRESULT GetScaleTerm(int32_t index, int32_t* value) override;
    ACFRESULT GetKind(int32_t* kind) override;
    ACFRESULT GetEffectSize(int32_t* width, int32_t* height) override;
    ACFRESULT GetEffectNumber(double* number) override;

    int32_t scaleTerms[4] = {1, 1, 1, 1};  // X numerator, X denominator, Y numerator, Y denominator
    int32_t kind = 800;
    int32_t effectWidth = 0, effectHeight = 0;
    double effectNumber = 0;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXEffectContext; }

private:
    std::shared_ptr<ParameterValues> mValues;
    AcfPtr<InputService> mInput;
};

class FrameContext final : public RefObject<IAVXFrameContext> {
public:
    explicit FrameContext(int32_t frame) : frame(frame) {}
    ACFRESULT GetFrameNumber(int32_t* frame) override;
    int32_t frame;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXFrameContext; }
};

class RenderContext final : public RefObject<IAVXRenderContext> {
public:
    RenderContext(uint32_t renderValue, double time) : renderValue(renderValue), time(time) {}
    ACFRESULT GetRenderValue(uint32_t* value) override;
    ACFRESULT GetTime(double* time) override;
    uint32_t renderValue;
    double time;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IAVXRenderContext; }
};

// A plain object the render call only stores.
class OpaqueObject final : public RefObject<IACFUnknown> {
protected:
    bool answers(const acfUID&) const override { return false; }
};

}  // namespace refhost
