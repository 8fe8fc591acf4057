#include "cli/objects.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <utility>

#include "cli/error.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "common/failure.h"
#include "mesh/report.h"
#include "mesh/table.h"
#include "sample/objects.h"
#include "sample/sampler.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace cli {

namespace {

// --min-voxels, then --largest: the K objects of most voxels, ties to the smaller id; the
// objects stay in id order and keep their ids.
void Filter(const Options& o, std::vector<SampledObject>& objects) {
    if (o.minVoxels > 0) {
        objects.erase(
            std::remove_if(objects.begin(), objects.end(),
                           [&](const SampledObject& s) { return s.voxels < o.minVoxels; }),
            objects.end());
    }
    if (o.largest > 0 && static_cast<std::size_t>(o.largest) < objects.size()) {
        std::vector<std::size_t> order(objects.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        // Already in id order, so a stable sort by voxels alone breaks ties by the smaller id.
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return objects[a].voxels > objects[b].voxels;
        });
        std::vector<bool> keep(objects.size(), false);
        for (std::size_t k = 0; k < static_cast<std::size_t>(o.largest); ++k)
            keep[order[k]] = true;
        std::vector<SampledObject> kept;
        for (std::size_t k = 0; k < objects.size(); ++k) {
            if (keep[k]) kept.push_back(std::move(objects[k]));
        }
        objects = std::move(kept);
    }
}

// The hull of every object, on `threads` workers that take the objects in turn. Each object's
// points move into its hull. A failure of any object fails the run: the one of the smallest id,
// so that the message does not depend on the number of workers.
std::vector<Mesh> Hulls(std::vector<SampledObject>& objects, unsigned threads, bool verify) {
    std::vector<Mesh> hulls(objects.size());
    std::vector<std::exception_ptr> failures(objects.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&]() {
        for (std::size_t k = next++; k < objects.size() && !failed; k = next++) {
            try {
                Points kept;  // --verify checks each hull against every one of its points
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

ObjectRow Row(const SampledObject& object, const Mesh& hull, const Spacing& spacing) {
    ObjectRow r;
    r.id = object.id;
    r.voxels = object.voxels;
    r.hull = Measure(hull, object.voxels, spacing);
    for (int k = 0; k < 3; ++k) {
        const double s = spacing.s[k];
        r.bboxMin[k] = static_cast<double>(object.min[k]) * s;
        r.bboxMax[k] = static_cast<double>(std::int64_t{object.max[k]} + 1) * s;
        // The mean of the centres i + 1/2: (2 sum + n) / 2n, one rounding from the exact integers.
        const VoxelSum twice = 2 * object.sum[k] + object.voxels;
        r.centroid[k] = static_cast<double>(static_cast<long double>(twice) /
                                            (2 * static_cast<long double>(object.voxels)) * s);
    }
    return r;
}

// The name of object id's own file: every "{id}" of the pattern replaced by the id.
std::string ObjectFile(const std::string& pattern, std::int64_t id) {
    std::string name = pattern;
    const std::string text = std::to_string(id);
    for (std::size_t at = name.find("{id}"); at != std::string::npos;
         at = name.find("{id}", at + text.size()))
        name.replace(at, 4, text);
    return name;
}

void Store(const std::string& name, const std::string& bytes) {
    Output out = OpenOutput(ReportOutput(name).c_str());
    PutN(out.stream, bytes.data(), bytes.size());
    CloseOutput(out);
}

}  // namespace

int RunObjects(const Options& o, const ObjectsStack& stack, const SampleSelection& selection) {
    const SampleType kind = selection.Type();
    if (o.objects == ObjectsKind::Labels && kind.format == SampleType::Format::Float)
        Error("--objects labels : the slices hold " + kind.Name() +
              " samples; labels must be integers.");
    Progress progress(!o.quiet && isatty(2) == 1, static_cast<std::int64_t>(stack.paths.size()));
    SampleOptions sampling;
    sampling.threads = o.threads;
    sampling.warning = [&progress](const std::string& line) { progress.Message(line + "\n"); };
    sampling.progress = [&progress](std::int64_t done, std::int64_t) { progress.Slice(done); };
    ObjectRule rule;
    rule.kind =
        o.objects == ObjectsKind::Labels ? ObjectRule::Kind::Labels : ObjectRule::Kind::Components;
    rule.connectivity = o.connectivity;
    std::vector<SampledObject> objects =
        SampleObjects(TiffSlices(stack.paths, stack.pages, &selection), stack.W, stack.H, selection,
                      rule, sampling);
    progress.Erase();
    Filter(o, objects);
    if (objects.empty()) Error("no object.");
    const std::vector<Mesh> hulls = Hulls(objects, o.threads, o.verify);

    std::vector<ObjectRow> rows;
    if (!o.table.empty() || !o.report.empty()) {
        for (std::size_t k = 0; k < objects.size(); ++k)
            rows.push_back(Row(objects[k], hulls[k], stack.spacing));
    }

    // Only now, with every hull complete, is an output touched.
    const std::string& unit = o.format == MeshFormat::Stl ? stack.stlUnit : stack.unit;
    if (PerObjectMesh(o.args[3])) {
        for (std::size_t k = 0; k < objects.size(); ++k) {
            Output out = OpenOutput(ObjectFile(o.args[3], objects[k].id).c_str());
            WriteMesh(out.stream, hulls[k], o.format, stack.spacing, unit);
            CloseOutput(out);
        }
    } else {
        std::vector<LabelledMesh> meshes;
        for (std::size_t k = 0; k < objects.size(); ++k)
            meshes.push_back({objects[k].id, &hulls[k]});
        Output out = OpenOutput(o.args[3].c_str());
        WriteMeshes(out.stream, meshes, o.format, stack.spacing, unit);
        CloseOutput(out);
    }
    if (!o.table.empty()) Store(o.table, TableCsv(rows));
    if (!o.report.empty()) {
        ReportInput in;
        in.slices = static_cast<std::int64_t>(stack.paths.size());
        in.width = stack.W;
        in.height = stack.H;
        in.spacing = stack.spacing;
        in.unit = stack.unit;
        Store(o.report, ObjectsReportJson(in, rows));
    }
    return 0;
}

}  // namespace cli
}  // namespace voxwrap
