// The host's side of the panel layout: layout nodes made by the host's definition factory,
// attached to the innermost open group or to the effect's top level.
#pragma once

#include "params/ParamLayout.h"

// One for the process: it keeps no state of its own (the open groups live in the context).
ParamLayoutBuilder& hostParamLayout();
