// Mask outlines of the standalone host: cubic bezier paths in layer pixels,
// with the arc-length queries behind the host's path data suite.
#pragma once

#include <vector>

#include "host/ae_sdk.h"

namespace standalone {

// One vertex; the tangents are offsets from the vertex (the in tangent points
// back along the path, the out tangent forward).
struct MaskVertex {
    double x, y, in_x, in_y, out_x, out_y;
};

struct MaskShape {
    std::vector<MaskVertex> vertices;
    bool closed = false;
};

// Vertex-wise linear blend a + (b − a)·f of positions and tangents, keeping
// a's closedness. Shapes with different vertex counts give `a` unchanged.
MaskShape interpolate(const MaskShape& a, const MaskShape& b, double f);

// Arc-length parametrisation of one segment, made once per segment and then
// evaluated at many lengths. Cheap to copy or move; independent of the
// MaskGeometry it came from.
//
// Straight segments (out tangent of the start and in tangent of the end both
// zero) are exact: length() = std::hypot(x1 − x0, y1 − y0) and at arc length t
// the point is x0 + (x1 − x0) × (t ÷ L) (same for y) with derivative
// (x1 − x0, y1 − y0). Curved segments use an arc-length table accurate to well
// under 0.01 px for paths a few thousand pixels long; the point at t is found
// to within a relative 1e-13 of t, so near the start of even a huge segment
// it lies about t pixels along the curve.
class SegmentLength {
public:
    // Length in pixels; NaN or infinite when the segment's coordinates are.
    double length() const { return length_; }

    // Point at arc length t (clamped to [0, length()]) and the derivative dB/du
    // of the bezier with respect to its own parameter u in [0, 1] (not
    // normalised; for straight segments exactly end − start). Where dB/du
    // vanishes on a segment of non-zero length (a retracted tangent handle at
    // an end, a cusp) the direction of travel there is returned instead, taken
    // from the next non-vanishing derivative, so the direction stays defined.
    // A segment of length 0 gives its start vertex and derivative (0, 0).
    // Non-finite coordinates or t give NaN outputs (never a hang).
    void eval(double t, double* x, double* y, double* dx, double* dy) const;

private:
    friend class MaskGeometry;

    enum class Kind { zero, straight, curved, invalid };
    Kind kind_ = Kind::zero;
    double p_[4][2] = {};  // P0, C1, C2, P3
    double length_ = 0.0;
    // Curved only: parameter breakpoints u_k and the arc length s_k up to each.
    std::vector<double> u_;
    std::vector<double> s_;
    int scale_exp_ = 0;      // speeds are integrated scaled by 2^-scale_exp_
    double d_[3][2] = {};    // control-point differences, scaled likewise

    double speed_scaled(double u) const;
    double arc_scaled(double u0, double u1) const;
    void refine_ends();
};

// Read-only view of one outline in the terms of the path data suite.
class MaskGeometry {
public:
    explicit MaskGeometry(MaskShape shape);

    const MaskShape& shape() const { return shape_; }
    bool is_open() const { return !shape_.closed; }

    // Closed outline of n ≥ 1 vertices: n segments (the last closes back to
    // vertex 0; one vertex gives one segment of length 0). Open: n − 1, and 0
    // for fewer than two vertices.
    A_long num_segments() const;

    // Vertex i with its tangents; i is clamped to [0, n − 1]. An outline
    // without vertices gives an all-zero vertex.
    PF_PathVertex vertex(A_long i) const;

    // Segment `seg` runs from P0 = v[seg] through C1 = P0 + out(v[seg]) and
    // C2 = P3 + in(v[seg + 1]) to P3 = v[seg + 1] (index taken modulo n when
    // closed). `frequency` sets the starting density of the arc-length table
    // (values below 16 count as 16, above 4096 as 4096); the table refines
    // itself where the curve needs it. A `seg` outside [0, num_segments()) gives
    // a segment of length 0 at the clamped vertex; the host is expected to
    // reject such indices before asking.
    SegmentLength prepare(A_long seg, A_long frequency) const;

    // One-shot conveniences (each prepares the segment anew; use prepare() in
    // loops).
    double segment_length(A_long seg, A_long frequency) const;
    void eval(A_long seg, double t, double* x, double* y, double* dx, double* dy) const;

private:
    MaskShape shape_;
};

}  // namespace standalone
