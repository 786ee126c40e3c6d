// A render job: a scene (make_scene), the frames to render and where they
// go, checked and resolved once, then rendered by the batch
// (render_frames). A render-farm task is a job with its share of the frames.
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
};

}  // namespace cli
