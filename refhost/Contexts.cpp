#include "refhost/Contexts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "refhost/Definitions.h"

namespace refhost {

namespace {
int32_t toInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return int32_t(v);
}
}  // namespace

double ValueTrack::at(double time) const {
    if (keys.empty()) return 0.0;
    // A time that is not a number lies before no key and after none: the first key's value.
    if (keys.size() == 1 || std::isnan(time) || time <= keys.front().first) return keys.front().second;
    if (time >= keys.back().first) return keys.back().second;
    auto next = std::upper_bound(keys.begin(), keys.end(), time,
                                 [](double t, const std::pair<double, double>& k) { return t < k.first; });
    auto prev = next - 1;
    if (type == TYPE_Boolean) return prev->second;
    const double span = next->first - prev->first;
    const double f = span > 0 ? (time - prev->first) / span : 0.0;
    const double v = prev->second + (next->second - prev->second) * f;
    return type == TYPE_Int32 ? std::round(v) : v;
}

std::shared_ptr<ParameterValues> ParameterValues::fromDefinition(const EffectDefinition& definition) {
    auto values = std::make_shared<ParameterValues>();
    for (const ParameterDefinition* p : definition.parameters) {
        const Attribute* def = p->attribute(PROP_Default);
        double v = 0;
        if (def && def->bytes.size() == 4) v = def->as<int32_t>();
        if (def && def->bytes.size() == 8) v = def->as<double>();
        values->set(p->id, p->dataType, v);
    }
    return values;
}

void ParameterValues::set(const acfUID& id, const acfUID& type, double value) { setKeys(id, type, {{0.0, value}}); }

void ParameterValues::setKeys(const acfUID& id, const acfUID& type, std::vector<std::pair<double, double>> keys) {
    std::sort(keys.begin(), keys.end());
    std::lock_guard<std::mutex> guard(mLock);
    mTracks[id] = ValueTrack{type, std::move(keys)};
}

void ParameterValues::remove(const acfUID& id) {
    std::lock_guard<std::mutex> guard(mLock);
    mTracks.erase(id);
}

bool ParameterValues::has(const acfUID& id) const {
    std::lock_guard<std::mutex> guard(mLock);
    return mTracks.count(id) != 0;
}

const ValueTrack* ParameterValues::track(const acfUID& id) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mTracks.find(id);
    return it == mTracks.end() ? nullptr : &it->second;
}

bool ParameterValues::read(const acfUID& id, double time, const acfUID& type, void* out, uint32_t size) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mTracks.find(id);
    if (it == mTracks.end() || it->second.type != type) return false;
    const double v = it->second.at(time);
    if (type == TYPE_Double) {
        if (size != 8) return false;
        std::memcpy(out, &v, 8);
        return true;
    }
    if (size != 4) return false;
    const int32_t i = toInt32(v);
    std::memcpy(out, &i, 4);
    return true;
}

ACFRESULT ParameterValue::GetValueAtTime(double time, const acfUID& dataType, void* value, uint32_t size) {
    if (!value) return ACF_E_POINTER;
    if (ACFRESULT r = hostCallHook()) return r;
    return mValues->read(mId, time, dataType, value, size) ? ACF_OK : ACF_E_INVALIDARG;
}

ACFRESULT InputService::GetInputImage(int32_t frameNumber, uint32_t renderValue, uint32_t fieldLayout,
                                      IAVXImage** image) {
    if (!image) return ACF_E_POINTER;
    *image = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    askedFrame = frameNumber;
    askedRenderValue = renderValue;
    askedFieldLayout = fieldLayout;
    if (!mImage) return ACF_E_FAIL;
    mImage->AddRef();
    *image = mImage.get();
    return ACF_OK;
}

ACFRESULT EffectContext::GetParameterValue(const acfUID& parameterId, IAVXParameterValue** value) {
    if (!value) return ACF_E_POINTER;
    *value = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    if (!mValues || !mValues->has(parameterId)) return ACF_E_INVALIDARG;
    *value = new ParameterValue(mValues, parameterId);
    return ACF_OK;
}

ACFRESULT EffectContext::GetService(const acfUID& classId, const acfUID& iid, void** out) {
    if (!out) return ACF_E_POINTER;
    *out = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    if (classId != CLSID_InputService || !mInput) return ACF_E_INVALIDARG;
    return mInput->QueryInterface(iid, out);
}

ACFRESULT EffectContext::GetScaleTerm(int32_t index, int32_t* value) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (index < 0 || index > 3) return ACF_E_INVALIDARG;
    *value = scaleTerms[index];
    return ACF_OK;
}

ACFRESULT EffectContext::GetKind(int32_t* kind_) {
    if (ACFRESULT r = hostCallHook()) return r;
    *kind_ = kind;
    return ACF_OK;
}

ACFRESULT EffectContext::GetEffectSize(int32_t* width, int32_t* height) {
    if (ACFRESULT r = hostCallHook()) return r;
    *width = effectWidth;
    *height = effectHeight;
    return ACF_OK;
}

ACFRESULT EffectContext::GetEffectNumber(double* number) {
    if (ACFRESULT r = hostCallHook()) return r;
    *number = effectNumber;
    return ACF_OK;
}

ACFRESULT FrameContext::GetFrameNumber(int32_t* frame_) {
    if (ACFRESULT r = hostCallHook()) return r;
    *frame_ = frame;
    return ACF_OK;
}

ACFRESULT RenderContext::GetRenderValue(uint32_t* value) {
    if (ACFRESULT r = hostCallHook()) return r;
    *value = renderValue;
    return ACF_OK;
}

ACFRESULT RenderContext::GetTime(double* time_) {
    if (ACFRESULT r = hostCallHook()) return r;
    *time_ = time;
    return ACF_OK;
}

}  // namespace refhost
