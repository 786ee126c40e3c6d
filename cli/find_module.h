// Finding the effect module the command line loads.
#pragma once

#include <memory>
#include <string>

#include "standalone/module.h"

namespace cli {

// The effect module: `explicit_path` when given (the --plugin flag), else
// $TRELLIS_PLUGIN, else NorvexTrellis.so next to the executable, one
// directory up, or in the installed layout's module folder relative to it
// (../lib/norvextrellis/). Throws Failure (kExitUsage) naming what was tried.
std::shared_ptr<standalone::Module> load_module(const std::string& explicit_path);

}  // namespace cli
