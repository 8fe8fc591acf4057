#pragma once
// The symbolic perturbation of the four-point orientation, written once for both arithmetics
// (the hardware integers of exact.cpp and the reference multi-word integers of multiword.cpp).
//
// With the four points sorted by rank (a lower rank is perturbed more), the perturbed determinant
// is a polynomial in the perturbation whose constant term is the determinant itself. When that is
// 0, the signs of the following coefficients, in decreasing order of significance, decide: each is
// a 2x2 orientation of three of the points in two of the columns, or the order of two points in
// one column. A coefficient implied 0 by the earlier ones being 0 never appears.
#include <cstdint>

namespace voxwrap {

namespace perturbation {

enum Column { X = 0, Y = 1, Z = 2 };

// minor(a, b, c, u, v): the orientation sign of the rank-sorted points a, b, c (0..3) in the
// columns u, v; order(a, b, u): the sign of column u of point b minus that of point a. Returns
// the first non-zero coefficient sign, and 1 when all 13 are 0 (four coincident points).
template <class Minor, class Order>
inline std::int32_t Cascade(Minor minor, Order order) {
    std::int32_t r;
    if ((r = -minor(1, 2, 3, Y, Z)) != 0) return r;
    if ((r = minor(0, 2, 3, Y, Z)) != 0) return r;
    if ((r = -minor(0, 1, 3, Y, Z)) != 0) return r;
    if ((r = minor(1, 2, 3, X, Z)) != 0) return r;
    if ((r = -order(2, 3, Z)) != 0) return r;
    if ((r = order(1, 3, Z)) != 0) return r;
    if ((r = -minor(0, 2, 3, X, Z)) != 0) return r;
    if ((r = -order(0, 3, Z)) != 0) return r;
    if ((r = minor(0, 1, 3, X, Z)) != 0) return r;
    if ((r = -minor(1, 2, 3, X, Y)) != 0) return r;
    if ((r = order(2, 3, Y)) != 0) return r;
    if ((r = -order(1, 3, Y)) != 0) return r;
    if ((r = -order(2, 3, X)) != 0) return r;
    return 1;
}

}  // namespace perturbation

}  // namespace voxwrap
