// The plug-in's identifiers, registered names and process-wide facts.
#pragma once

#include "sdk/acf_base.h"

inline constexpr acfUID kSecondPluginId = {0xC6F64F8F, 0xC570, 0x4B39, {0x80, 0xD5, 0x7A, 0xA7, 0xBF, 0xC6, 0xD7, 0xAA}};
inline constexpr acfUID kEffectComponentId = {0xA1B47F66, 0x82DF, 0x4399, {0x8A, 0x5E, 0xB7, 0x7E, 0x6A, 0x9F, 0x00, 0x36}};
inline constexpr acfUID kEffectClassId = {0xE0F527F5, 0xA744, 0x4723, {0xA5, 0xE0, 0xCB, 0x00, 0x2D, 0x5D, 0x61, 0x38}};
inline constexpr acfUID kUpdateComponentId = {0x272DC501, 0x6DFD, 0x4AEB, {0xB4, 0xA2, 0xAC, 0x00, 0xF1, 0xA3, 0x81, 0xE1}};
inline constexpr acfUID kUpdateClassId = {0x26BD094E, 0x76BB, 0x4F30, {0x88, 0x76, 0xA2, 0x8B, 0xEC, 0x13, 0x31, 0x97}};

inline constexpr char16_t kVendorName[] = u"Vorlane";
inline constexpr char16_t kModuleFileName[] = u"TarnixAVX2.avx";
inline constexpr char16_t kPluginDisplayName[] = u"Tarnix";
inline constexpr char16_t kEffectComponentName[] = u"Tarnix AVX2";
inline constexpr char16_t kEffectDisplayName[] = u"Vorlane Tarnix";
inline constexpr char16_t kUpdateComponentName[] = u"Tarnix Update";

struct Plugin_AVX2_Globals {
    // Library attach: keep the module handle and look up the editor's main window.
    static void attach(void* module);
    static void detach();
};

// Runs the dry definition pass when no pass has filled the slot table yet.
ACFRESULT ensureSlotTable(IACFUnknown* host);
