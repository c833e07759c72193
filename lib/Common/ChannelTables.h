// Per-channel lookup tables applied to a whole frame: the finishing step of flicker and
// post contrast.
#pragma once

#include <cstdint>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/RasterDesc.h"

// R through table 0, G through table 1, B through table 2; alpha untouched. 1 when a table
// is missing (nothing done), else 0. 16-bit samples above `white` (a host out of range)
// read the last entry rather than past the table.
template <class Tag>
int32_t ApplyChannelTables(const RasterDesc& raster, const typename Tag::Channel* const tables[3], int32_t white);

// Channel tables a stage has made but not applied, for the stage after it to apply in its own
// pass over the frame, before its own work: R, G and B tables of white + 1 entries of the
// frame's sample type, held in `storage`. Empty when there are none.
struct HandedTables {
    CallBuffer<uint8_t> storage;
    const void* tables[3] = {nullptr, nullptr, nullptr};
    int32_t white = 0;
    RasterDesc frame;  // the frame they were made for, as it was described then

    explicit operator bool() const { return tables[0] != nullptr; }
    template <class Tag>
    const typename Tag::Channel* table(int c) const {
        return static_cast<const typename Tag::Channel*>(tables[c]);
    }
};

// The tables applied on their own, as ApplyChannelTables does; nothing when there are none.
template <class Tag>
void ApplyHandedTables(const RasterDesc& raster, const HandedTables& handed);
