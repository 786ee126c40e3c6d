// Signals for the command line: SIGINT, SIGTERM and SIGHUP ask a render or
// the preview to stop cleanly; the process then ends by that signal.
#pragma once

namespace cli {

// SIGINT, SIGTERM and SIGHUP set a flag instead of ending the process (a
// second SIGINT ends it at once).
void install_interrupt_handler();
bool interrupt_requested();
// After an interrupt: ends the process by the signal that asked for it,
// with its default action, so that a parent sees the kill.
[[noreturn]] void end_by_interrupt();

}  // namespace cli
