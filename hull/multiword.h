#pragma once
// The reference arithmetic of the hull: sign-magnitude multi-word integers in base 2^30, the
// exact predicates evaluated in them, a double-precision filter, and the four-point orientation
// built from these alone. The hull itself never runs any of it: within the coordinate limit
// (common/limits.h) every sign it needs is decided in 64- and 128-bit integers (exact.cpp). The
// tests compute every predicate both ways, so each arithmetic is a second opinion on the other.
//
// A number L of n words: L(1) = n, L(2) = sign (-1, 0, +1), L(3..n) = magnitude in base 2^30,
// least significant digit first.
#include <cstdint>
#include <string>

namespace voxwrap {

// ---- multi-word integers ----
// A word count of 3 or less leaves L as it was and appends the design's two-line report to
// *report (null: it is dropped); the run goes on.
void ltrans(std::int32_t N, std::int32_t* L, std::int32_t LEN, std::string* report = nullptr);
void exadd(const std::int32_t* A, const std::int32_t* B, std::int32_t* R);
void exsub(const std::int32_t* A, const std::int32_t* B, std::int32_t* R);
void exmult(const std::int32_t* A, const std::int32_t* B, std::int32_t* R);
std::int32_t lhalf(const std::int32_t* A, std::int32_t I);
float floatl(const std::int32_t* L);
void ltranf(float A, std::int32_t* L, std::int32_t LEN);

// ---- the exact predicates of chull3.h, evaluated in multi-word integers ----
// The same answers as isd1ss, jsd1ss and jd1sss wherever every coordinate difference lies below
// 2^29 in magnitude (the word counts hold every value formed there, and no wider).
std::int32_t isd1ssWords(const std::int32_t* A, const std::int32_t* B);
std::int32_t jsd1ssWords(const std::int32_t* P, const std::int32_t* U, const std::int32_t* V);
std::int32_t jd1sssWords(const std::int32_t* P, const std::int32_t* IX, const std::int32_t* IY,
                         const std::int32_t* IZ);

// ---- the four-point orientation without hardware determinants ----
// ISIGN = the sign of the orientation determinant of (IV(1), ..., IV(4)) when double precision
// proves it, else 0.
void sfilt(const std::int32_t* IV, const std::int32_t* IX, const std::int32_t* IY,
           const std::int32_t* IZ, std::int32_t& ISIGN);
// jorsss through the filter, the multi-word determinant and the same perturbation: the answer of
// jorsss for any points whose coordinate differences lie below 2^29.
std::int32_t jorsssWords(const std::int32_t* IV, const std::int32_t* IX, const std::int32_t* IY,
                         const std::int32_t* IZ, const std::int32_t* IRANK);

}  // namespace voxwrap
