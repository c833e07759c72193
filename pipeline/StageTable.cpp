#include "pipeline/StageTable.h"

#include "lib/Common/PixelFormats.h"
#include "stages/damage/BasicScratches.h"
#include "stages/damage/DeepScratches.h"
#include "stages/damage/Dust.h"
#include "stages/damage/Microscratches.h"
#include "stages/damage/Splotches.h"
#include "stages/tone/Fading.h"
#include "stages/tone/Flicker.h"
#include "stages/tone/Funk.h"
#include "stages/tone/Vignette.h"
#include "stages/tone/Displacement.h"
#include "stages/tone/grain/Grain.h"
#include "stages/tone/GateWeave.h"

namespace {

template <class Tag>
StageTable makeTable() {
    StageTable t{};
    t.prepareFunk = &PrepareFunkRaster<Tag>;
    t.fading = &FadingStage<Tag>;
    t.funk = &FunkStage<Tag>;
    t.splotches = &SplotchesStage<Tag>;
    t.dust = &DustStage<Tag>;
    t.flicker = &FlickerTables<Tag>;
    t.vignette = &VignetteAfter<Tag>;
    t.displacement = &DisplacementStage<Tag>;
    t.microscratches = &MicroscratchesStage<Tag>;
    t.grain = &GrainStage<Tag>;
    t.deepScratches = &DeepScratchesStage<Tag>;
    t.basicScratches = &BasicScratchesStage<Tag>;
    t.gateWeave = &GateWeaveStage<Tag>;
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
