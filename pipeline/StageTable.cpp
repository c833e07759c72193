#include "pipeline/StageTable.h"

#include "lib/Common/PixelFormats.h"

namespace {

template <class Tag>
StageTable makeTable() {
    StageTable t{};
    return t;
}

template <class Tag>
const StageTable*& overrideFor() {
    static const StageTable* table = nullptr;
    return table;
}

}  // namespace

template <class Tag>
const StageTable& stageTable() {
    static const StageTable table = makeTable<Tag>();
    const StageTable* replaced = overrideFor<Tag>();
    return replaced ? *replaced : table;
}

template <class Tag>
void overrideStageTable(const StageTable* table) {
    overrideFor<Tag>() = table;
}

template const StageTable& stageTable<PIXEL_ARGB8>();
template const StageTable& stageTable<PIXEL_BGRA8>();
template const StageTable& stageTable<PIXEL_ARGB14>();
template const StageTable& stageTable<PIXEL_BGRA14>();
template void overrideStageTable<PIXEL_ARGB8>(const StageTable*);
template void overrideStageTable<PIXEL_BGRA8>(const StageTable*);
template void overrideStageTable<PIXEL_ARGB14>(const StageTable*);
template void overrideStageTable<PIXEL_BGRA14>(const StageTable*);
