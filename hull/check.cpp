// The exact hull checker of check.h. Where it uses the hull's own face walks it checks their
// answers against the links, so a fault in a walk cannot hide itself.
#include "hull/check.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "hull/cells.h"

namespace voxwrap {

// Returns the message from CheckHull when cond does not hold.
#define REQUIRE(cond, message)                                                                     \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::ostringstream text;                                                               \
            text << message;                                                                       \
            return text.str();                                                                     \
        }                                                                                          \
    } while (0)

namespace hullcheck {

// Found by argument lookup from std::set and std::sort.
bool operator<(const Point& a, const Point& b) {
    return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
}
bool operator==(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

namespace {

struct Vec {
    Int128 x, y, z;
};
Vec Sub(const Point& a, const Point& b) {
    return {Int128(a.x) - b.x, Int128(a.y) - b.y, Int128(a.z) - b.z};
}
Vec Cross(const Vec& a, const Vec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Int128 Dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// An independent hull by facet enumeration (small inputs): six times its volume, and its
// extreme points (strict corners of every facet polygon; the two ends of a collinear set).
struct BruteHull {
    Int128 volume6 = 0;
    std::vector<Point> extreme;
};

// The normal divided by the gcd of its components (not all zero).
Vec Reduce(const Vec& N) {
    Int128 g = 0;
    for (Int128 c : {N.x, N.y, N.z}) {
        c = c < 0 ? -c : c;
        while (c != 0) {
            const Int128 t = g % c;
            g = c;
            c = t;
        }
    }
    return {N.x / g, N.y / g, N.z / g};
}

BruteHull BruteForce(std::vector<Point> p) {
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    BruteHull out;
    const std::size_t n = p.size();
    if (n == 0) return out;
    const Point& o = p[0];
    // A facet is a supporting plane N.x = d with every point at or below it, N reduced.
    std::set<std::tuple<std::int64_t, std::int64_t, std::int64_t>> seen;
    std::set<Point> corners;
    bool anyPlane = false;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            for (std::size_t k = j + 1; k < n; ++k) {
                const Vec N0 = Cross(Sub(p[j], p[i]), Sub(p[k], p[i]));
                if (N0.x == 0 && N0.y == 0 && N0.z == 0) continue;
                anyPlane = true;
                const Vec R = Reduce(N0);
                // Both sides of this plane already facets: all points lie in it, done before.
                if (seen.count({std::int64_t(R.x), std::int64_t(R.y), std::int64_t(R.z)}) &&
                    seen.count({std::int64_t(-R.x), std::int64_t(-R.y), std::int64_t(-R.z)}))
                    continue;
                int above = 0, below = 0;
                for (std::size_t m = 0; m < n && !(above && below); ++m) {
                    const Int128 s = Dot(N0, Sub(p[m], p[i]));
                    above |= s > 0;
                    below |= s < 0;
                }
                if (above && below) continue;
                for (const int sign : {1, -1}) {
                    if ((sign == 1 && above) || (sign == -1 && below)) continue;
                    const Vec N{sign * R.x, sign * R.y, sign * R.z};
                    if (!seen.insert({std::int64_t(N.x), std::int64_t(N.y), std::int64_t(N.z)})
                             .second)
                        continue;
                    // The facet polygon: points in the plane, hull in the plane by gift wrapping.
                    std::vector<Point> q;
                    for (const Point& r : p)
                        if (Dot(N, Sub(r, p[i])) == 0) q.push_back(r);
                    // Start at the lexicographically least point (a corner).
                    std::vector<Point> ring{q[0]};
                    for (;;) {
                        const Point cur = ring.back();
                        std::size_t best = q.size();
                        for (std::size_t m = 0; m < q.size(); ++m) {
                            if (q[m] == cur) continue;
                            if (best == q.size()) {
                                best = m;
                                continue;
                            }
                            // Counter-clockwise about N: take the candidate that keeps every
                            // other point to its left; on a tie the farther one.
                            const Int128 t = Dot(N, Cross(Sub(q[best], cur), Sub(q[m], cur)));
                            const Vec db = Sub(q[best], cur), dm = Sub(q[m], cur);
                            if (t < 0 || (t == 0 && Dot(dm, dm) > Dot(db, db))) best = m;
                        }
                        if (q[best] == ring[0]) break;
                        ring.push_back(q[best]);
                    }
                    for (const Point& r : ring)
                        corners.insert(r);
                    for (std::size_t m = 1; m + 1 < ring.size(); ++m)
                        out.volume6 += Det(o, ring[0], ring[m], ring[m + 1]);
                }
            }
    if (!anyPlane) {  // collinear (or one point): the two ends
        corners.insert(p.front());
        corners.insert(p.back());
    }
    out.extreme.assign(corners.begin(), corners.end());
    return out;
}

}  // namespace

Int128 Det(const Point& o, const Point& a, const Point& b, const Point& c) {
    return Dot(Sub(a, o), Cross(Sub(b, o), Sub(c, o)));
}

namespace {

// The checks in order; each returns its first violation. Later checks rely on what earlier ones
// established (counts, the face triangles, the vertex set).
class Checker {
  public:
    Checker(const HullStorage& hull, bool oracle)
        : h(hull), useOracle(oracle), IPAR(hull.IPAR), NVMAX(IPAR(slot::NVMAX)),
          NFMAX(IPAR(slot::NFMAX)), NEMAX(IPAR(slot::NEMAX)), n(NVMAX - 1) {}

    std::string Run() {
        REQUIRE(NFMAX == FacesPerPoint * NVMAX, "NFMAX " << NFMAX << " for NVMAX " << NVMAX);
        REQUIRE(NEMAX == EdgesPerPoint * NVMAX, "NEMAX " << NEMAX << " for NVMAX " << NVMAX);
        REQUIRE(h.IFEDGE.size() >= static_cast<std::size_t>(NFMAX) &&
                    h.IEVS.size() >= static_cast<std::size_t>(NEMAX) &&
                    h.IX.size() >= static_cast<std::size_t>(NVMAX),
                "arrays smaller than the capacities");
        for (auto step :
             {&Checker::lists, &Checker::ring, &Checker::edges, &Checker::faces,
              &Checker::rotations, &Checker::containment, &Checker::extremes, &Checker::volume}) {
            std::string fault = (this->*step)();
            if (!fault.empty()) return fault;
        }
        return "";
    }

  private:
    const HullStorage& h;
    const bool useOracle;
    const Cvec IPAR;
    const std::int32_t NVMAX, NFMAX, NEMAX, n;
    std::int32_t F = 0, E = 0, V = 0, start = 0;  // counts of cells in use, IVSTRT
    std::vector<std::int32_t> faceTri;            // the vonf3 vertices of face f at 3f..3f+2
    std::set<Point> vertexPoints;                 // the points of the hull's vertices
    std::mt19937 rng{99};                         // samples on large hulls; fixed, so it replays

    static std::int32_t at(const std::vector<std::int32_t>& a, std::int32_t i) { return a[i - 1]; }
    Point P(std::int32_t v) const { return Point{at(h.IX, v), at(h.IY, v), at(h.IZ, v)}; }
    bool edgeUsed(std::int32_t e) const {
        return e >= 1 && e <= NEMAX && at(h.IEFLAG, e) == mark::IN_USE;
    }
    bool faceUsed(std::int32_t f) const {
        return f >= 1 && f <= NFMAX && at(h.IFFLAG, f) == mark::IN_USE;
    }

    std::string lists() {
        // Free lists: exactly the cells of flag 0, no cycles.
        std::vector<char> onList(NFMAX + 1, 0);
        std::int32_t count = 0;
        for (std::int32_t f = IPAR(slot::IFFREE); f != 0; f = at(h.IFEDGE, f)) {
            REQUIRE(f >= 1 && f <= NFMAX && !onList[f], "free face list broken at " << f);
            onList[f] = 1;
            ++count;
        }
        for (std::int32_t f = 1; f <= NFMAX; ++f) {
            REQUIRE(at(h.IFFLAG, f) == mark::FREE || at(h.IFFLAG, f) == mark::IN_USE,
                    "face flag " << f);
            REQUIRE((onList[f] == 1) == (at(h.IFFLAG, f) == mark::FREE), "face " << f);
            F += at(h.IFFLAG, f);
        }
        onList.assign(NEMAX + 1, 0);
        for (std::int32_t e = IPAR(slot::IEFREE); e != 0; e = at(h.IEVS, e)) {
            REQUIRE(e >= 1 && e <= NEMAX && !onList[e], "free edge list broken at " << e);
            onList[e] = 1;
        }
        for (std::int32_t e = 1; e <= NEMAX; ++e) {
            REQUIRE(at(h.IEFLAG, e) == mark::FREE || at(h.IEFLAG, e) == mark::IN_USE,
                    "edge flag " << e);
            REQUIRE((onList[e] == 1) == (at(h.IEFLAG, e) == mark::FREE), "edge " << e);
            E += at(h.IEFLAG, e);
        }
        return "";
    }

    std::string ring() {
        // Vertex ring through IVSTRT: exactly the vertices of flag 1, doubly linked.
        for (std::int32_t v = 1; v <= NVMAX; ++v) {
            REQUIRE(at(h.IVFLAG, v) == mark::FREE || at(h.IVFLAG, v) == mark::IN_USE,
                    "vertex flag " << v);
            V += at(h.IVFLAG, v);
        }
        REQUIRE(at(h.IVFLAG, NVMAX) == mark::FREE, "the scratch point is never a vertex");
        start = IPAR(slot::IVSTRT);
        REQUIRE(start >= 1 && start <= n && at(h.IVFLAG, start) == mark::IN_USE,
                "IVSTRT " << start << " is not a hull vertex");
        std::int32_t ringLength = 0;
        std::int32_t v = start;
        do {
            REQUIRE(v >= 1 && v <= n && at(h.IVFLAG, v) == mark::IN_USE, "ring vertex " << v);
            REQUIRE(at(h.IVPREV, at(h.IVNEXT, v)) == v, "ring links broken at " << v);
            REQUIRE(++ringLength <= V, "ring longer than the flagged vertices");
            v = at(h.IVNEXT, v);
        } while (v != start);
        REQUIRE(ringLength == V, "ring of " << ringLength << " for " << V << " flagged vertices");
        REQUIRE(F == 2 * V - 4, F << " faces for " << V << " vertices");
        REQUIRE(E == 3 * V - 6, E << " edges for " << V << " vertices");
        return "";
    }

    std::string edges() {
        // Every edge in use: two faces in use; face 1 passes it start -> end and face 2 end -> start,
        // with reciprocal neighbour links; both ends are vertices.
        std::vector<std::int32_t> touched(NVMAX + 1, 0);
        for (std::int32_t e = 1; e <= NEMAX; ++e) {
            if (!edgeUsed(e)) continue;
            const std::int32_t s = at(h.IEVS, e), t = at(h.IEVE, e);
            const std::int32_t f1 = at(h.IEF1, e), f2 = at(h.IEF2, e);
            REQUIRE(s >= 1 && s <= n && t >= 1 && t <= n && s != t, "edge " << e);
            REQUIRE(at(h.IVFLAG, s) == mark::IN_USE && at(h.IVFLAG, t) == mark::IN_USE,
                    "edge " << e);
            touched[s] = touched[t] = 1;
            REQUIRE(faceUsed(f1) && faceUsed(f2) && f1 != f2, "edge " << e);
            // Leaving vertex `from` along face f: the edge whose traversal in f starts there.
            auto leaves = [&](std::int32_t x, std::int32_t f, std::int32_t from) {
                return edgeUsed(x) && ((at(h.IEF1, x) == f && at(h.IEVS, x) == from) ||
                                       (at(h.IEF2, x) == f && at(h.IEVE, x) == from));
            };
            auto arrives = [&](std::int32_t x, std::int32_t f, std::int32_t to) {
                return edgeUsed(x) && ((at(h.IEF1, x) == f && at(h.IEVE, x) == to) ||
                                       (at(h.IEF2, x) == f && at(h.IEVS, x) == to));
            };
            REQUIRE(leaves(at(h.IEEF1, e), f1, t), "successor in face 1 of edge " << e);
            REQUIRE(arrives(at(h.IESF1, e), f1, s), "predecessor in face 1 of edge " << e);
            REQUIRE(leaves(at(h.IESF2, e), f2, s), "successor in face 2 of edge " << e);
            REQUIRE(arrives(at(h.IEEF2, e), f2, t), "predecessor in face 2 of edge " << e);
        }
        for (std::int32_t u = 1; u <= NVMAX; ++u)
            REQUIRE(touched[u] == at(h.IVFLAG, u), "vertex " << u << " flag against its edges");
        return "";
    }

    std::string faces() {
        // Every face in use: a triangle of three edges that name it, in face-walk order equal to
        // the vonf3 order, three distinct vertices.
        faceTri.assign(3 * (NFMAX + 1), 0);
        for (std::int32_t f = 1; f <= NFMAX; ++f) {
            if (!faceUsed(f)) continue;
            std::int32_t ed[3], vs[3];
            eonf3(f, ed, h.CellsView());
            vonf3(f, vs, h.CellsView());
            for (const std::int32_t e : ed)
                REQUIRE(edgeUsed(e) && (at(h.IEF1, e) == f || at(h.IEF2, e) == f),
                        "face " << f << " edge " << e);
            REQUIRE(ed[0] != ed[1] && ed[1] != ed[2] && ed[0] != ed[2], "face " << f);
            // The cycle closes after three steps back.
            const std::int32_t e4 =
                at(h.IEF1, ed[2]) == f ? at(h.IESF1, ed[2]) : at(h.IEEF2, ed[2]);
            REQUIRE(e4 == ed[0], "face " << f << " is not a triangle");
            REQUIRE(vs[0] != vs[1] && vs[1] != vs[2] && vs[0] != vs[2], "face " << f);
            for (int k = 0; k < 3; ++k)
                faceTri[3 * f + k] = vs[k];
        }
        return "";
    }

    std::string rotations() {
        // Around every vertex, the rotation returns to its start edge through edges at the vertex.
        for (std::int32_t u = 1; u <= NVMAX; ++u) {
            if (at(h.IVFLAG, u) != mark::IN_USE) continue;
            const std::int32_t e0 = at(h.IVEDGE, u);
            REQUIRE(edgeUsed(e0) && (at(h.IEVS, e0) == u || at(h.IEVE, e0) == u),
                    "IVEDGE of " << u);
            std::int32_t e = e0, steps = 0;
            do {
                REQUIRE(edgeUsed(e) && (at(h.IEVS, e) == u || at(h.IEVE, e) == u),
                        "edge " << e << " at " << u);
                REQUIRE(++steps <= E, "rotation around " << u << " does not close");
                e = nextAround(h.CellsView(), e, u);
            } while (e != e0);
        }
        return "";
    }

    std::string containment() {
        // Exact geometry. No input point strictly outside a face with non-zero area (all pairs
        // on small hulls, local convexity and samples on large ones).
        std::vector<std::int32_t> faces;
        for (std::int32_t f = 1; f <= NFMAX; ++f) {
            if (!faceUsed(f)) continue;
            const Vec N = Cross(Sub(P(faceTri[3 * f + 1]), P(faceTri[3 * f])),
                                Sub(P(faceTri[3 * f + 2]), P(faceTri[3 * f])));
            if (N.x != 0 || N.y != 0 || N.z != 0) faces.push_back(f);
        }
        auto outside = [&](std::int32_t f, std::int32_t p) {
            return Det(P(p), P(faceTri[3 * f]), P(faceTri[3 * f + 1]), P(faceTri[3 * f + 2])) < 0;
        };
        const bool full = static_cast<std::int64_t>(faces.size()) * n <= 4000000;
        std::vector<std::int32_t> pointSample, faceSample;
        if (full) {
            for (std::int32_t p = 1; p <= n; ++p)
                pointSample.push_back(p);
            faceSample = faces;
        } else {
            for (int k = 0; k < 64 && !faces.empty(); ++k)
                faceSample.push_back(faces[rng() % faces.size()]);
            for (int k = 0; k < 64; ++k)
                pointSample.push_back(1 + rng() % n);
            for (const std::int32_t f : faceSample)
                for (std::int32_t p = 1; p <= n; ++p)
                    REQUIRE(!(outside(f, p)), "point " << p << " outside face " << f);
            // Local convexity: no face has a neighbour's vertex strictly outside.
            for (std::int32_t e = 1; e <= NEMAX; ++e) {
                if (!edgeUsed(e)) continue;
                const std::int32_t f1 = at(h.IEF1, e), f2 = at(h.IEF2, e);
                for (int k = 0; k < 3; ++k) {
                    if (std::binary_search(faces.begin(), faces.end(), f1)) {
                        REQUIRE(!(outside(f1, faceTri[3 * f2 + k])), "edge " << e);
                    }
                    if (std::binary_search(faces.begin(), faces.end(), f2)) {
                        REQUIRE(!(outside(f2, faceTri[3 * f1 + k])), "edge " << e);
                    }
                }
            }
            faceSample = faces;
        }
        for (const std::int32_t p : pointSample)
            for (const std::int32_t f : faceSample)
                REQUIRE(!(outside(f, p)), "point " << p << " outside face " << f);
        return "";
    }

    std::string extremes() {
        // Every extreme point in a set of directions is (at the coordinates of) a hull vertex.
        for (std::int32_t u = 1; u <= n; ++u)
            if (at(h.IVFLAG, u) == mark::IN_USE) vertexPoints.insert(P(u));
        std::vector<Vec> dirs;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dz = -1; dz <= 1; ++dz)
                    if (dx || dy || dz) dirs.push_back({dx, dy, dz});
        for (int k = 0; k < 16; ++k)
            dirs.push_back({Int128(int(rng() % 201) - 100), Int128(int(rng() % 201) - 100),
                            Int128(int(rng() % 201) - 100)});
        for (const Vec& d : dirs) {
            // The maximising points form a face of the hull; its lexicographic ends are extreme.
            Int128 best = 0;
            Point lo{}, hi{};
            bool first = true;
            for (std::int32_t p = 1; p <= n; ++p) {
                const Point q = P(p);
                const Int128 s = d.x * q.x + d.y * q.y + d.z * q.z;
                if (first || s > best) {
                    best = s;
                    lo = hi = q;
                    first = false;
                } else if (s == best) {
                    lo = std::min(lo, q);
                    hi = std::max(hi, q);
                }
            }
            REQUIRE(vertexPoints.count(lo) && vertexPoints.count(hi), "extreme point missing");
        }
        return "";
    }

    std::string volume() {
        // Six times the volume against an independent hull.
        Int128 volume6 = 0;
        const Point o = P(start);
        for (std::int32_t f = 1; f <= NFMAX; ++f)
            if (faceUsed(f))
                volume6 += Det(o, P(faceTri[3 * f]), P(faceTri[3 * f + 1]), P(faceTri[3 * f + 2]));
        REQUIRE(volume6 >= 0, "negative volume");
        if (useOracle && n <= 150) {
            std::vector<Point> pts;
            for (std::int32_t p = 1; p <= n; ++p)
                pts.push_back(P(p));
            const BruteHull ref = BruteForce(pts);
            REQUIRE(volume6 == ref.volume6, "volume*6 " << static_cast<long long>(volume6)
                                                        << " oracle "
                                                        << static_cast<long long>(ref.volume6));
            for (const Point& q : ref.extreme)
                REQUIRE(vertexPoints.count(q),
                        "extreme point (" << q.x << "," << q.y << "," << q.z << ") not a vertex");
        }
        return "";
    }
};

}  // namespace

std::string CheckHull(const HullStorage& h, bool useOracle) { return Checker(h, useOracle).Run(); }

}  // namespace hullcheck

namespace hullcheck {

namespace {

// The checks of one CheckConvexHull call, in order; each returns its first violation.
class HullChecker {
  public:
    HullChecker(const voxwrap::Points& points, const voxwrap::Hull& hull, bool everyPoint)
        : in(points), v(hull.vertices), t(hull.triangles), every(everyPoint) {}

    std::string Run() {
        for (auto step : {&HullChecker::triangles, &HullChecker::surface, &HullChecker::corners,
                          &HullChecker::containment}) {
            std::string fault = (this->*step)();
            if (!fault.empty()) return fault;
        }
        return "";
    }

  private:
    // A plane N·p = d with N reduced by the gcd of its components; N < 2^59, d < 2^90.
    struct Plane {
        std::int64_t nx, ny, nz;
        Int128 d;
        bool operator<(const Plane& o) const {
            return std::tie(nx, ny, nz, d) < std::tie(o.nx, o.ny, o.nz, o.d);
        }
        bool operator==(const Plane& o) const {
            return nx == o.nx && ny == o.ny && nz == o.nz && d == o.d;
        }
    };

    const voxwrap::Points& in;
    const voxwrap::Points& v;
    const std::vector<std::array<std::int32_t, 3>>& t;
    const bool every;
    std::vector<Plane> planes;          // distinct, sorted
    std::vector<std::int32_t> planeOf;  // the plane of each triangle
    std::int64_t V = 0, F = 0;

    Point P(std::int32_t i) const { return Point{v.x[i], v.y[i], v.z[i]}; }

    static std::int64_t Gcd(std::int64_t a, std::int64_t b) {
        a = a < 0 ? -a : a;
        b = b < 0 ? -b : b;
        while (b != 0) {
            const std::int64_t r = a % b;
            a = b;
            b = r;
        }
        return a;
    }

    std::string triangles() {
        V = static_cast<std::int64_t>(v.size());
        F = static_cast<std::int64_t>(t.size());
        REQUIRE(v.y.size() == v.size() && v.z.size() == v.size(), "vertex arrays of unequal size");
        REQUIRE(V >= 4 && F >= 4, V << " vertices, " << F << " triangles");
        for (std::int64_t f = 0; f < F; ++f) {
            const auto& tri = t[f];
            for (const std::int32_t i : tri)
                REQUIRE(i >= 0 && i < V, "triangle " << f << " index " << i);
            REQUIRE(tri[0] != tri[1] && tri[1] != tri[2] && tri[0] != tri[2], "triangle " << f);
            // Coordinates within the limit: each component below 2^59.
            const Point a = P(tri[0]), b = P(tri[1]), c = P(tri[2]);
            const std::int64_t ux = std::int64_t{b.x} - a.x, uy = std::int64_t{b.y} - a.y,
                               uz = std::int64_t{b.z} - a.z;
            const std::int64_t wx = std::int64_t{c.x} - a.x, wy = std::int64_t{c.y} - a.y,
                               wz = std::int64_t{c.z} - a.z;
            std::int64_t nx = uy * wz - uz * wy, ny = uz * wx - ux * wz, nz = ux * wy - uy * wx;
            REQUIRE(nx != 0 || ny != 0 || nz != 0, "triangle " << f << " has zero area");
            const std::int64_t g = Gcd(Gcd(nx, ny), nz);
            nx /= g, ny /= g, nz /= g;
            planes.push_back({nx, ny, nz, Int128{nx} * a.x + Int128{ny} * a.y + Int128{nz} * a.z});
        }
        std::vector<Plane> byTriangle = planes;
        std::sort(planes.begin(), planes.end());
        planes.erase(std::unique(planes.begin(), planes.end()), planes.end());
        for (const Plane& p : byTriangle)
            planeOf.push_back(static_cast<std::int32_t>(
                std::lower_bound(planes.begin(), planes.end(), p) - planes.begin()));
        return "";
    }

    std::string surface() {
        // Every directed edge once and its reverse once: closed and consistently oriented.
        std::vector<std::int64_t> directed;
        directed.reserve(static_cast<std::size_t>(3 * F));
        std::vector<char> used(static_cast<std::size_t>(V), 0);
        for (const auto& tri : t) {
            for (int k = 0; k < 3; ++k) {
                directed.push_back(std::int64_t{tri[k]} * V + tri[(k + 1) % 3]);
                used[tri[k]] = 1;
            }
        }
        std::sort(directed.begin(), directed.end());
        for (std::size_t i = 0; i < directed.size(); ++i) {
            const std::int64_t a = directed[i] / V, b = directed[i] % V;
            REQUIRE(i == 0 || directed[i] != directed[i - 1],
                    "edge " << a << "-" << b << " in two triangles the same way");
            REQUIRE(std::binary_search(directed.begin(), directed.end(), b * V + a),
                    "edge " << a << "-" << b << " has no triangle on its other side");
        }
        for (std::int64_t i = 0; i < V; ++i)
            REQUIRE(used[i], "vertex " << i << " in no triangle");
        const std::int64_t E = 3 * F / 2;
        REQUIRE(V - E + F == 2, "V - E + F = " << V - E + F << " (V " << V << ", F " << F << ")");
        Int128 volume6 = 0;
        for (const auto& tri : t)
            volume6 += Det(P(0), P(tri[0]), P(tri[1]), P(tri[2]));
        REQUIRE(volume6 > 0, "no positive volume");
        return "";
    }

    std::string corners() {
        // Every vertex one of the points, once, and a corner: three distinct planes around it.
        std::vector<Point> sorted(in.size());
        for (std::size_t i = 0; i < in.size(); ++i)
            sorted[i] = Point{in.x[i], in.y[i], in.z[i]};
        std::sort(sorted.begin(), sorted.end());
        std::vector<Point> vs;
        for (std::int64_t i = 0; i < V; ++i) {
            const Point p = P(static_cast<std::int32_t>(i));
            REQUIRE(std::binary_search(sorted.begin(), sorted.end(), p),
                    "vertex " << i << " is no input point");
            vs.push_back(p);
        }
        std::sort(vs.begin(), vs.end());
        REQUIRE(std::adjacent_find(vs.begin(), vs.end()) == vs.end(), "two vertices coincide");
        std::vector<std::array<std::int32_t, 3>> seen(static_cast<std::size_t>(V),
                                                      std::array<std::int32_t, 3>{-1, -1, -1});
        for (std::int64_t f = 0; f < F; ++f) {
            for (const std::int32_t i : t[f]) {
                auto& s = seen[i];
                const std::int32_t q = planeOf[f];
                if (s[0] == q || s[1] == q || s[2] == q || s[2] >= 0) continue;
                (s[0] < 0 ? s[0] : s[1] < 0 ? s[1] : s[2]) = q;
            }
        }
        for (std::int64_t i = 0; i < V; ++i)
            REQUIRE(seen[i][2] >= 0, "vertex " << i << " is no corner");
        return "";
    }

    std::string containment() {
        // No point strictly outside the plane of a triangle. With a budget, the vertices and an
        // even sample of the points (a fixed stride, so a failure replays).
        constexpr std::int64_t kBudget = std::int64_t{1} << 26;
        const auto n = static_cast<std::int64_t>(in.size());
        const auto P0 = static_cast<std::int64_t>(planes.size());
        std::int64_t stride = 1;
        if (!every && n * P0 > kBudget) stride = (n * P0 + kBudget - 1) / kBudget;
        auto outside = [&](std::int32_t x, std::int32_t y, std::int32_t z) -> std::int64_t {
            for (std::int64_t q = 0; q < P0; ++q) {
                const Plane& p = planes[q];
                if (Int128{p.nx} * x + Int128{p.ny} * y + Int128{p.nz} * z > p.d) return q;
            }
            return -1;
        };
        for (std::int64_t i = 0; i < n; i += stride) {
            const std::int64_t q = outside(in.x[i], in.y[i], in.z[i]);
            REQUIRE(q < 0, "point " << i << " (" << in.x[i] << "," << in.y[i] << "," << in.z[i]
                                    << ") outside the hull");
        }
        if (stride > 1) {
            for (std::int64_t i = 0; i < V; ++i)
                REQUIRE(outside(v.x[i], v.y[i], v.z[i]) < 0, "vertex " << i << " outside the hull");
        }
        return "";
    }
};

}  // namespace

std::string CheckConvexHull(const voxwrap::Points& points, const voxwrap::Hull& hull,
                            bool everyPoint) {
    return HullChecker(points, hull, everyPoint).Run();
}

}  // namespace hullcheck

}  // namespace voxwrap
