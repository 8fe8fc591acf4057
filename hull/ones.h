#pragma once
// A 1-based window on an array that other code fills from 0: the hull reads entry (i) at p[i-1],
// so the driver's 0-based arrays pass unchanged and no pointer ever points before an array.
#include <cassert>
#include <cstdint>

namespace voxwrap {

template <class T>
struct Ones {
    T* first;
    Ones(T* p) : first(p) {}  // implicit: callers pass the plain pointer they own
    T& operator()(std::int32_t i) const {
        assert(i >= 1);  // 0 is the "none" link, never an element
        return first[i - 1];
    }
};
using Ivec = Ones<std::int32_t>;
using Cvec = Ones<const std::int32_t>;

}  // namespace voxwrap
