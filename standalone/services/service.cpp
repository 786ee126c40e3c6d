// The thread's current Host, and the in-data's callback records put together
// from each service's share.
#include "standalone/services/service.h"

namespace standalone {

namespace {

thread_local Host* t_current_host = nullptr;

}  // namespace

Host* current_host() { return t_current_host; }

CurrentHostScope::CurrentHostScope(Host* host) : previous_(t_current_host) { t_current_host = host; }
CurrentHostScope::~CurrentHostScope() { t_current_host = previous_; }

void fill_callbacks(PF_UtilCallbacks* utils, PF_InteractCallbacks* inter, SPBasicSuite* basic) {
    fill_unsupported_callbacks(utils, inter);
    fill_world_callbacks(utils);
    fill_handle_callbacks(utils);
    fill_ansi_callbacks(&utils->ansi);
    fill_param_callbacks(inter);
    fill_interaction_callbacks(inter);
    fill_basic_suite(basic);
}

}  // namespace standalone
