#include "cli/objects.h"

#include <unistd.h>

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
    FilterObjects(objects, o.minVoxels, o.largest);
    if (objects.empty()) Error("no object.");
    const std::vector<Mesh> hulls = ObjectHulls(objects, o.threads, o.verify);

    std::vector<ObjectRow> rows;
    if (!o.table.empty() || !o.report.empty()) {
        for (std::size_t k = 0; k < objects.size(); ++k)
            rows.push_back(MeasureObject(objects[k], hulls[k], stack.spacing));
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
