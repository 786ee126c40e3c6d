// A render job: everything `trellis render` was asked for, checked and
// resolved once (sources opened, mask loaded, parameter values against the
// effect's declarations), then rendered by the batch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scene/batch.h"
#include "scene/session.h"
#include "standalone/module.h"

namespace cli {

struct RenderJob {
    std::shared_ptr<standalone::Module> module;
    Scene scene;
    // In render order, each once.
    std::vector<long> frames;
    OutputTarget output;
    int jobs = 1;  // workers
    bool skip_existing = false;
    bool quiet = false;
    // Said once on standard error before rendering; the render goes on.
    std::vector<std::string> warnings;
};

}  // namespace cli
