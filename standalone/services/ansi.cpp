// The ANSI functions, through the utility callbacks and the ANSI suite. They
// carry no effect_ref and serve the Host whose command is running.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "standalone/services/service.h"

namespace standalone {

namespace {

// sprintf cannot know its destination's size; the effect's destination is
// return_msg, which holds 255 characters and a terminator.
constexpr std::size_t kSprintfBound = sizeof(PF_OutData{}.return_msg);

PF_FpLong PF_CALL ansi_atan(PF_FpLong v) { return std::atan(v); }
PF_FpLong PF_CALL ansi_atan2(PF_FpLong y, PF_FpLong x) { return std::atan2(y, x); }
// Rounding steers the effect's drawing, so floor and ceil are logged; they
// have no effect_ref and reach their Host through the running command.
PF_FpLong log_rounding(std::string_view name, PF_FpLong v, PF_FpLong result) {
    Host* host = current_host();
    if (host != nullptr && host->log().enabled()) {
        host->log().record(name, {v, result});
    }
    return result;
}

PF_FpLong PF_CALL ansi_ceil(PF_FpLong v) { return log_rounding("ceil", v, std::ceil(v)); }
PF_FpLong PF_CALL ansi_cos(PF_FpLong v) { return std::cos(v); }
PF_FpLong PF_CALL ansi_exp(PF_FpLong v) { return std::exp(v); }
PF_FpLong PF_CALL ansi_fabs(PF_FpLong v) { return std::fabs(v); }
PF_FpLong PF_CALL ansi_floor(PF_FpLong v) { return log_rounding("floor", v, std::floor(v)); }
PF_FpLong PF_CALL ansi_fmod(PF_FpLong a, PF_FpLong b) { return std::fmod(a, b); }
PF_FpLong PF_CALL ansi_hypot(PF_FpLong a, PF_FpLong b) { return std::hypot(a, b); }
PF_FpLong PF_CALL ansi_log(PF_FpLong v) { return std::log(v); }
PF_FpLong PF_CALL ansi_log10(PF_FpLong v) { return std::log10(v); }
PF_FpLong PF_CALL ansi_pow(PF_FpLong a, PF_FpLong b) { return std::pow(a, b); }
PF_FpLong PF_CALL ansi_sin(PF_FpLong v) { return std::sin(v); }
PF_FpLong PF_CALL ansi_sqrt(PF_FpLong v) { return std::sqrt(v); }
PF_FpLong PF_CALL ansi_tan(PF_FpLong v) { return std::tan(v); }
PF_FpLong PF_CALL ansi_asin(PF_FpLong v) { return std::asin(v); }
PF_FpLong PF_CALL ansi_acos(PF_FpLong v) { return std::acos(v); }

std::string destination_name(Host* host, const A_char* destination) {
    if (host != nullptr && destination == host->out_data().return_msg) {
        return "return_msg";
    }
    return "other";
}

int PF_CALL ansi_sprintf(A_char* destination, const A_char* format, ...) {
    Host* host = current_host();
    if (destination == nullptr || format == nullptr) {
        if (host != nullptr) {
            host->ledger().error("sprintf with a null destination or format");
        }
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(destination, kSprintfBound, format, args);
    va_end(args);
    if (host != nullptr) {
        Call call(host, "sprintf", {destination_name(host, destination), std::string(format), std::string(destination)});
        call.finish(written);
    }
    return written;
}

A_char* PF_CALL ansi_strcpy(A_char* destination, const A_char* source) {
    Host* host = current_host();
    if (destination == nullptr || source == nullptr) {
        if (host != nullptr) {
            host->ledger().error("strcpy with a null destination or source");
        }
        return destination;
    }
    const std::string where = destination_name(host, destination);
    if (where == "return_msg") {
        std::snprintf(destination, kSprintfBound, "%s", source);
    } else {
        std::strcpy(destination, source);
    }
    if (host != nullptr) {
        Call call(host, "strcpy", {where, std::string(destination)});
        call.finish(0);
    }
    return destination;
}

constexpr PF_ANSICallbacksSuite1 kAnsiSuite = {
    ansi_atan, ansi_atan2, ansi_ceil,  ansi_cos, ansi_exp,  ansi_fabs,    ansi_floor,  ansi_fmod,   ansi_hypot, ansi_log,
    ansi_log10, ansi_pow,  ansi_sin,   ansi_sqrt, ansi_tan, ansi_sprintf, ansi_strcpy, ansi_asin, ansi_acos,
};
}  // namespace

const void* ansi_suite_table() { return &kAnsiSuite; }

void fill_ansi_callbacks(PF_ANSICallbacks* ansi) {
    ansi->atan = ansi_atan;
    ansi->atan2 = ansi_atan2;
    ansi->ceil = ansi_ceil;
    ansi->cos = ansi_cos;
    ansi->exp = ansi_exp;
    ansi->fabs = ansi_fabs;
    ansi->floor = ansi_floor;
    ansi->fmod = ansi_fmod;
    ansi->hypot = ansi_hypot;
    ansi->log = ansi_log;
    ansi->log10 = ansi_log10;
    ansi->pow = ansi_pow;
    ansi->sin = ansi_sin;
    ansi->sqrt = ansi_sqrt;
    ansi->tan = ansi_tan;
    ansi->sprintf = ansi_sprintf;
    ansi->strcpy = ansi_strcpy;
    ansi->asin = ansi_asin;
    ansi->acos = ansi_acos;
}

}  // namespace standalone
