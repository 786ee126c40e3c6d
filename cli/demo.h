// `trellis demo`: an embedded scene (generated input, brush Layer and spiral
// mask) rendered as an animation of the reveal, with a contact sheet and an H.264 movie.
#pragma once

#include <string>
#include <vector>

#include "footage/image_io.h"
#include "standalone/mask.h"

namespace CLI {
class App;
}

namespace cli {

struct DemoArgs {
    std::string out = "out/demo";
    int jobs = 0;
    bool quiet = false;
    std::string plugin;
};

CLI::App* add_demo_command(CLI::App& app, DemoArgs& args);
int run_demo(const DemoArgs& args);

// The scene's pieces, 8 bits per channel.
Image demo_input(int width, int height);
Image demo_brush(int width, int height);
// An open spiral of cubic segments around the frame's centre.
standalone::MaskShape demo_spiral(int width, int height);

// The images side by side in rows of `columns`, each scaled by 1/`shrink`,
// `gap` pixels apart and around, on an opaque dark ground.
Image contact_sheet(const std::vector<Image>& frames, int columns, int shrink, int gap);

}  // namespace cli
