#pragma once
// Exact 3D convex hull of integer points: multi-word integers, exact predicates with symbolic
// perturbation, winged-edge cell storage, small hulls, and the divide-and-conquer construction.
//
// Array convention: every array is a plain pointer whose element 0 is entry (1); a routine reads
// entry (i) of IX at IX[i-1] (see ones.h), so the driver's 0-based arrays pass unchanged.
// Input scalars are passed by value, output scalars as std::int32_t&. No routine allocates.
//
// The cell argument list (CELLS below) is always these eleven arrays in this order:
//   IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1
#include <cstdint>

// Capacities: with NVMAX = IPAR(1) point slots, a hull has room for FacesPerPoint * NVMAX faces
// and EdgesPerPoint * NVMAX edges (a closed triangulated surface of V vertices has 2V - 4 faces and
// 3V - 6 edges; the merges need the rest while a cylinder is built before the hidden cells go).
constexpr std::int32_t FacesPerPoint = 3;
constexpr std::int32_t EdgesPerPoint = 4;

// ---- multi-word integers: (word count, sign, base-2^30 digits least significant first) ----
void ltrans(std::int32_t N, std::int32_t* L, std::int32_t LEN);
void exadd(const std::int32_t* A, const std::int32_t* B, std::int32_t* R);
void exsub(const std::int32_t* A, const std::int32_t* B, std::int32_t* R);
void exmult(const std::int32_t* A, const std::int32_t* B, std::int32_t* R);
std::int32_t lhalf(const std::int32_t* A, std::int32_t I);
float floatl(const std::int32_t* L);
void ltranf(float A, std::int32_t* L, std::int32_t LEN);

// ---- exact predicates ----
std::int32_t isd1s(const std::int32_t* A);
std::int32_t jsd1s(const std::int32_t* P, const std::int32_t* U);
std::int32_t isd1ss(const std::int32_t* A, const std::int32_t* B);
std::int32_t jsd1ss(const std::int32_t* P, const std::int32_t* U, const std::int32_t* V);
std::int32_t jd1sss(const std::int32_t* P, const std::int32_t* IX, const std::int32_t* IY,
                    const std::int32_t* IZ);
void sortbn(std::int32_t N, const std::int32_t* IN, const std::int32_t* KEY, std::int32_t* OUT,
            std::int32_t& ISIGN);
std::int32_t larger(std::int32_t I, std::int32_t J, const std::int32_t* K1, const std::int32_t* K2);
std::int32_t itleft(std::int32_t I, std::int32_t J, std::int32_t K, const std::int32_t* U,
                    const std::int32_t* V, const std::int32_t* KEY);

// ---- perturbed four-point orientation and its floating-point filter ----
std::int32_t jorsss(const std::int32_t* IV, const std::int32_t* IX, const std::int32_t* IY,
                    const std::int32_t* IZ, const std::int32_t* IRANK);
void sfilt(const std::int32_t* IV, const std::int32_t* IX, const std::int32_t* IY,
           const std::int32_t* IZ, std::int32_t& ISIGN);

// ---- cell storage ----
std::int32_t knewe(std::int32_t* IPAR, std::int32_t* IEVS);
std::int32_t knewf(std::int32_t* IPAR, std::int32_t* IFEDGE);
void keback(std::int32_t IE, std::int32_t* IPAR, std::int32_t* IEVS);
void kfback(std::int32_t IF, std::int32_t* IPAR, std::int32_t* IFEDGE);
void eonf3(std::int32_t IF, std::int32_t* IEOUT, std::int32_t* IPAR, std::int32_t* IVEDGE,
           std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1,
           std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2,
           std::int32_t* IEEF1);
void vonf3(std::int32_t IF, std::int32_t* IVOUT, std::int32_t* IPAR, std::int32_t* IVEDGE,
           std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1,
           std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2,
           std::int32_t* IEEF1);
void cclear(std::int32_t IV, std::int32_t* IVNEXT, std::int32_t* IVPREV, std::int32_t* IEFLAG,
            std::int32_t* IFFLAG, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1);
// Region deletion; `delete` is a keyword, hence the underscore.
void delete_(std::int32_t IF, std::int32_t* IVLIST, std::int32_t* IVNEXT, std::int32_t* IVPREV,
             std::int32_t* IEFLAG, std::int32_t* IESTK, std::int32_t* IFFLAG, std::int32_t* IFSTK,
             std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE, std::int32_t* IEVS,
             std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2, std::int32_t* IESF1,
             std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1);
void delall(std::int32_t IV, std::int32_t IF, std::int32_t* IVLIST, std::int32_t* IVNEXT,
            std::int32_t* IVPREV, std::int32_t* IEFLAG, std::int32_t* IESTK, std::int32_t* IFFLAG,
            std::int32_t* IFSTK, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1);

// ---- small hulls ----
void ch3p(std::int32_t I, const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ,
          const std::int32_t* IRANK, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
          std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
          std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
          std::int32_t* IORDER, std::int32_t* IVNEXT, std::int32_t* IVPREV);
void dihed(const std::int32_t* V, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
           std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
           std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1);
void tetra(const std::int32_t* V, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
           std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
           std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1);

// ---- hull construction ----
void chull3(std::int32_t NOFP, std::int32_t* IX, std::int32_t* IY, std::int32_t* IZ,
            std::int32_t* IRANK, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
            std::int32_t* IVSUB, std::int32_t* IORDER, std::int32_t* IVNEXT, std::int32_t* IVPREV,
            std::int32_t* IVFLAG, std::int32_t* ISPREV, std::int32_t* IEFLAG, std::int32_t* IESTK,
            std::int32_t* IFFLAG, std::int32_t* IFSTK);
void hpsort(std::int32_t N, const std::int32_t* KEY1, const std::int32_t* KEY2,
            std::int32_t* IORDER);
void kinit(std::int32_t* IPAR, std::int32_t* IFEDGE, std::int32_t* IEVS);
void ch4p(std::int32_t ISTART, const std::int32_t* IX, const std::int32_t* IY,
          const std::int32_t* IZ, const std::int32_t* IRANK, std::int32_t* IPAR,
          std::int32_t* IVEDGE, std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE,
          std::int32_t* IEF1, std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2,
          std::int32_t* IEEF2, std::int32_t* IEEF1, std::int32_t* IORDER, std::int32_t* IVNEXT,
          std::int32_t* IVPREV);
void mergch(std::int32_t IVA, std::int32_t IVB, std::int32_t* IX, std::int32_t* IY,
            std::int32_t* IZ, std::int32_t* IRANK, std::int32_t* IPAR, std::int32_t* IVEDGE,
            std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1,
            std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2,
            std::int32_t* IEEF1, std::int32_t* IORDER, std::int32_t* IVNEXT, std::int32_t* IVPREV,
            std::int32_t* IVFLAG, std::int32_t* ISPREV, std::int32_t* IEFLAG, std::int32_t* IESTK,
            std::int32_t* IFFLAG, std::int32_t* IFSTK);
void gcylin(std::int32_t IA, std::int32_t IB, std::int32_t* IX, std::int32_t* IY, std::int32_t* IZ,
            std::int32_t* IRANK, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
            std::int32_t* IORDER, std::int32_t* IVNEXT, std::int32_t* IVPREV, std::int32_t* IEFLAG,
            std::int32_t* IESTK, std::int32_t* IFFLAG, std::int32_t* IFSTK);
void shadow(std::int32_t ISTART, std::int32_t* IX, std::int32_t* IY, std::int32_t* IRANK,
            std::int32_t& IVBEST, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
            std::int32_t* IORDER, std::int32_t* IVFLAG, std::int32_t* ISPREV);
void comtan(const std::int32_t* IVFLAG, const std::int32_t* ISPREV, std::int32_t IVA,
            std::int32_t IVB, const std::int32_t* IX, const std::int32_t* IY,
            const std::int32_t* IRANK, std::int32_t& IBA, std::int32_t& IBB);
