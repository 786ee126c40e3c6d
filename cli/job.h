// A render job: everything `trellis render` was asked for, checked and
// resolved once (sources opened, mask loaded, parameter values against the
// effect's declarations), then rendered by the batch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/session.h"
#include "standalone/module.h"

namespace cli {

struct RenderArgs;

struct RenderJob {
    std::shared_ptr<standalone::Module> module;
    Scene scene;
    // In render order, each once.
    std::vector<long> frames;
    OutputTarget output;
    int jobs = 1;  // workers
    bool skip_existing = false;
    bool quiet = false;
};

// The frames of a --frames list (empty: frame 0), each once, in the order
// given. Throws Failure (kExitUsage).
std::vector<long> frame_list(const std::string& text);

// The job the flags describe. Throws Failure (kExitUsage) naming the flag
// for anything wrong with it, before any frame is rendered.
RenderJob make_job(const RenderArgs& args);

}  // namespace cli
