#include "strokes/stroke_list.h"

#include <new>
#include <stdexcept>

bool StrokeList::append(const Stroke& stroke) {
    try {
        strokes_.push_back(stroke);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void StrokeList::clear() {
    strokes_.clear();
}

A_long RandomSource::next_int() {
    state_ = state_ * 1103515245u + 12345u;
    return static_cast<A_long>(state_ & 0x7FFFFFFFu);
}

double RandomSource::next_real() {
    return static_cast<double>(next_int()) * (1.0 / 2147483648.0);
}
