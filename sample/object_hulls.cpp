// What a host program does with the objects of a stack after sampling them, as the command line
// does it: the --min-voxels and --largest filters, and every object's hull on several workers.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "voxwrap/voxwrap.h"

namespace voxwrap {

void FilterObjects(std::vector<SampledObject>& objects, std::int64_t minVoxels,
                   std::int64_t largest) {
    if (minVoxels > 0) {
        objects.erase(std::remove_if(objects.begin(), objects.end(),
                                     [&](const SampledObject& s) { return s.voxels < minVoxels; }),
                      objects.end());
    }
    if (largest > 0 && static_cast<std::size_t>(largest) < objects.size()) {
        std::vector<std::size_t> order(objects.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        // Already in id order, so a stable sort by voxels alone breaks ties by the smaller id.
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return objects[a].voxels > objects[b].voxels;
        });
        std::vector<bool> keep(objects.size(), false);
        for (std::size_t k = 0; k < static_cast<std::size_t>(largest); ++k)
            keep[order[k]] = true;
        std::vector<SampledObject> kept;
        for (std::size_t k = 0; k < objects.size(); ++k) {
            if (keep[k]) kept.push_back(std::move(objects[k]));
        }
        objects = std::move(kept);
    }
}

std::vector<Hull> ObjectHulls(std::vector<SampledObject>& objects, unsigned threads, bool verify) {
    std::vector<Hull> hulls(objects.size());
    std::vector<std::exception_ptr> failures(objects.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&]() {
        for (std::size_t k = next++; k < objects.size() && !failed; k = next++) {
            try {
                Points kept;  // verify checks each hull against every one of its points
                if (verify) kept = objects[k].points;
                hulls[k] = ConvexHull(std::move(objects[k].points));
                objects[k].points = Points();
                if (verify) VerifyHull(kept, hulls[k]);
            } catch (...) {
                failures[k] = std::current_exception();
                failed = true;
            }
        }
    };
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, objects.size()));
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& w : workers)
        w.join();
    for (const std::exception_ptr& f : failures) {
        if (f) std::rethrow_exception(f);
    }
    return hulls;
}

}  // namespace voxwrap
