#include "mesh/mesh.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>

#include "common/failure.h"

namespace voxwrap {

namespace {

bool LittleEndianHost() {
    const std::uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

void PutFloat(std::FILE* stream, float value) { Put(stream, &value, sizeof value); }

// Stores a field of `length` bytes little-endian at `at`, whatever the host is; returns the end.
unsigned char* Store(unsigned char* at, const void* data, std::size_t length) {
    static const bool little = LittleEndianHost();
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i)
        at[i] = bytes[little ? i : length - 1 - i];
    return at + length;
}

// The single-precision coordinates every format writes: the integer itself without spacing, so
// that the default binary STL keeps its bytes, otherwise the scaled value rounded once.
struct Coordinates {
    const Mesh& mesh;
    const Spacing& spacing;
    bool identity = spacing.Identity();

    std::array<float, 3> Point(std::int32_t p) const {
        const std::int32_t v[3] = {mesh.vertices.x[p], mesh.vertices.y[p], mesh.vertices.z[p]};
        std::array<float, 3> out;
        for (int k = 0; k < 3; ++k)
            out[k] = identity ? static_cast<float>(v[k]) : static_cast<float>(v[k] * spacing.s[k]);
        return out;
    }
    // The cross product of the scaled edges: each component scales by the other two axes.
    std::array<float, 3> ScaledNormal(const std::array<std::int64_t, 3>& n) const {
        const double* s = spacing.s;
        if (identity) {
            return {static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2])};
        }
        return {static_cast<float>(static_cast<double>(n[0]) * s[1] * s[2]),
                static_cast<float>(static_cast<double>(n[1]) * s[0] * s[2]),
                static_cast<float>(static_cast<double>(n[2]) * s[0] * s[1])};
    }
};

// Text output collected in large pieces.
class TextOut {
  public:
    explicit TextOut(std::FILE* stream) : stream_(stream) {}
    ~TextOut() = default;
    TextOut& operator<<(const std::string& text) {
        buffer_ += text;
        if (buffer_.size() >= (1u << 16)) Flush();
        return *this;
    }
    TextOut& operator<<(const char* text) { return *this << std::string(text); }
    // The shortest decimal that reads back as the same float, without exponent.
    TextOut& operator<<(float value) {
        char digits[64];
        const auto r =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
        return *this << std::string(digits, r.ptr);
    }
    TextOut& operator<<(std::int64_t value) { return *this << std::to_string(value); }
    void Flush() {
        PutN(stream_, buffer_.data(), buffer_.size());
        buffer_.clear();
    }

  private:
    std::FILE* stream_;
    std::string buffer_;
};

// The binary STL's 80-byte header (the unit, or zeros) and its triangle count.
void PutStlHeader(std::FILE* stream, const std::string& unit, std::uint32_t count) {
    char header[80] = {};
    if (!unit.empty()) {
        const std::string text = "voxwrap hull, unit " + unit;
        std::memcpy(header, text.data(), text.size() < 80 ? text.size() : 80);
    }
    PutN(stream, header, 80);
    Put(stream, &count, 4);
}

// The binary STL's 50-byte records of the mesh's triangles.
void PutStlFacets(std::FILE* stream, const Mesh& mesh, const Spacing& spacing) {
    const Coordinates at{mesh, spacing};
    // Each record is assembled and written whole: a write per field would cost a call into the C
    // library, and its lock, thirteen times per triangle.
    unsigned char record[50];
    for (const auto& t : mesh.triangles) {
        const std::array<std::int64_t, 3> n = Normal(mesh, t);
        unsigned char* end = record;
        for (const float c : at.ScaledNormal(n))
            end = Store(end, &c, sizeof c);
        for (const std::int32_t p : t) {
            for (const float c : at.Point(p))
                end = Store(end, &c, sizeof c);
        }
        // Bit 15 always; five bits per axis along which the normal has a component.
        const std::uint16_t attribute =
            static_cast<std::uint16_t>(0x8000 | (n[0] != 0 ? 0x7C00 : 0) |
                                       (n[1] != 0 ? 0x03E0 : 0) | (n[2] != 0 ? 0x001F : 0));
        Store(end, &attribute, 2);
        PutN(stream, record, sizeof record);
    }
}

// The ASCII STL's facets of the mesh's triangles, between its solid and endsolid lines.
void PutAsciiFacets(TextOut& out, const Mesh& mesh, const Spacing& spacing) {
    const Coordinates at{mesh, spacing};
    for (const auto& t : mesh.triangles) {
        const std::array<float, 3> n = at.ScaledNormal(Normal(mesh, t));
        out << "facet normal " << n[0] << " " << n[1] << " " << n[2] << "\n outer loop\n";
        for (const std::int32_t p : t) {
            const std::array<float, 3> v = at.Point(p);
            out << "  vertex " << v[0] << " " << v[1] << " " << v[2] << "\n";
        }
        out << " endloop\nendfacet\n";
    }
}

void WriteBinaryStl(std::FILE* stream, const Mesh& mesh, const Spacing& spacing,
                    const std::string& unit) {
    PutStlHeader(stream, unit, static_cast<std::uint32_t>(mesh.triangles.size()));
    PutStlFacets(stream, mesh, spacing);
}

void WriteAsciiStl(std::FILE* stream, const Mesh& mesh, const Spacing& spacing,
                   const std::string& unit) {
    const std::string name = unit.empty() ? "voxwrap" : "voxwrap unit=" + unit;
    TextOut out(stream);
    out << "solid " << name << "\n";
    PutAsciiFacets(out, mesh, spacing);
    out << "endsolid " << name << "\n";
    out.Flush();
}

// The points the triangles use, each once, numbered in the order of the hull's points; index[p]
// is the shared vertex number of point p.
std::vector<std::int32_t> SharedVertices(const Mesh& mesh, std::vector<std::int32_t>& index) {
    std::int32_t last = -1;
    for (const auto& t : mesh.triangles) {
        for (const std::int32_t p : t)
            last = p > last ? p : last;
    }
    index.assign(static_cast<std::size_t>(last + 1), -1);
    for (const auto& t : mesh.triangles) {
        for (const std::int32_t p : t)
            index[p] = 0;
    }
    std::vector<std::int32_t> points;
    for (std::int32_t p = 0; p <= last; ++p) {
        if (index[p] < 0) continue;
        index[p] = static_cast<std::int32_t>(points.size());
        points.push_back(p);
    }
    return points;
}

void WritePly(std::FILE* stream, const Mesh& mesh, const Spacing& spacing,
              const std::string& unit) {
    std::vector<std::int32_t> index;
    const std::vector<std::int32_t> points = SharedVertices(mesh, index);
    TextOut header(stream);
    header << "ply\nformat binary_little_endian 1.0\ncomment voxwrap convex hull of voxel cubes\n";
    if (!unit.empty()) header << "comment unit " << unit << "\n";
    header << "element vertex " << static_cast<std::int64_t>(points.size())
           << "\nproperty float x\nproperty float y\nproperty float z\nelement face "
           << static_cast<std::int64_t>(mesh.triangles.size())
           << "\nproperty list uchar int vertex_indices\nend_header\n";
    header.Flush();
    const Coordinates at{mesh, spacing};
    for (const std::int32_t p : points) {
        for (const float c : at.Point(p))
            PutFloat(stream, c);
    }
    for (const auto& t : mesh.triangles) {
        const unsigned char three = 3;
        PutN(stream, &three, 1);
        for (const std::int32_t p : t)
            Put(stream, &index[p], 4);
    }
}

void WriteObj(std::FILE* stream, const Mesh& mesh, const Spacing& spacing,
              const std::string& unit) {
    std::vector<std::int32_t> index;
    const std::vector<std::int32_t> points = SharedVertices(mesh, index);
    TextOut out(stream);
    out << "# voxwrap convex hull of voxel cubes\n";
    if (!unit.empty()) out << "# unit " << unit << "\n";
    const Coordinates at{mesh, spacing};
    for (const std::int32_t p : points) {
        const std::array<float, 3> v = at.Point(p);
        out << "v " << v[0] << " " << v[1] << " " << v[2] << "\n";
    }
    for (const auto& t : mesh.triangles) {  // OBJ counts vertices from 1
        out << "f " << std::int64_t{index[t[0]] + 1} << " " << std::int64_t{index[t[1]] + 1} << " "
            << std::int64_t{index[t[2]] + 1} << "\n";
    }
    out.Flush();
}

// The combined file of several objects: each object's triangles exactly as its own file has them
// (the same order, coordinates and normals), the objects one after the other.
void WriteBinaryStlObjects(std::FILE* stream, const std::vector<LabelledMesh>& meshes,
                           const Spacing& spacing, const std::string& unit) {
    std::uint64_t total = 0;
    for (const LabelledMesh& m : meshes)
        total += m.mesh->triangles.size();
    if (total > UINT32_MAX) Fail(Error::Kind::Output, "too many triangles for one binary STL.");
    PutStlHeader(stream, unit, static_cast<std::uint32_t>(total));
    for (const LabelledMesh& m : meshes)
        PutStlFacets(stream, *m.mesh, spacing);
}

void WriteAsciiStlObjects(std::FILE* stream, const std::vector<LabelledMesh>& meshes,
                          const Spacing& spacing) {
    TextOut out(stream);
    for (const LabelledMesh& m : meshes) {
        const std::string name = "object_" + std::to_string(m.id);
        out << "solid " << name << "\n";
        PutAsciiFacets(out, *m.mesh, spacing);
        out << "endsolid " << name << "\n";
    }
    out.Flush();
}

// One vertex list and one face list for all objects; every face carries its object's id.
void WritePlyObjects(std::FILE* stream, const std::vector<LabelledMesh>& meshes,
                     const Spacing& spacing, const std::string& unit) {
    std::vector<std::vector<std::int32_t>> index(meshes.size()), points(meshes.size());
    std::int64_t vertices = 0, faces = 0;
    for (std::size_t k = 0; k < meshes.size(); ++k) {
        if (meshes[k].id > INT32_MAX)
            Fail(Error::Kind::Output, "object id too large for a PLY label.");
        points[k] = SharedVertices(*meshes[k].mesh, index[k]);
        vertices += static_cast<std::int64_t>(points[k].size());
        faces += static_cast<std::int64_t>(meshes[k].mesh->triangles.size());
    }
    if (vertices > INT32_MAX) Fail(Error::Kind::Output, "too many vertices for one PLY file.");
    TextOut header(stream);
    header << "ply\nformat binary_little_endian 1.0\ncomment voxwrap convex hulls of voxel cubes, "
              "one per label\n";
    if (!unit.empty()) header << "comment unit " << unit << "\n";
    header << "element vertex " << vertices
           << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << faces
           << "\nproperty list uchar int vertex_indices\nproperty int label\nend_header\n";
    header.Flush();
    for (std::size_t k = 0; k < meshes.size(); ++k) {
        const Coordinates at{*meshes[k].mesh, spacing};
        for (const std::int32_t p : points[k]) {
            for (const float c : at.Point(p))
                PutFloat(stream, c);
        }
    }
    std::int32_t first = 0;  // the number of the object's first vertex
    for (std::size_t k = 0; k < meshes.size(); ++k) {
        const auto label = static_cast<std::int32_t>(meshes[k].id);
        for (const auto& t : meshes[k].mesh->triangles) {
            const unsigned char three = 3;
            PutN(stream, &three, 1);
            for (const std::int32_t p : t) {
                const std::int32_t v = first + index[k][p];
                Put(stream, &v, 4);
            }
            Put(stream, &label, 4);
        }
        first += static_cast<std::int32_t>(points[k].size());
    }
}

// A group per object; OBJ numbers vertices across the whole file, so each object's faces count
// on from the vertices of the objects before it.
void WriteObjObjects(std::FILE* stream, const std::vector<LabelledMesh>& meshes,
                     const Spacing& spacing, const std::string& unit) {
    TextOut out(stream);
    out << "# voxwrap convex hulls of voxel cubes\n";
    if (!unit.empty()) out << "# unit " << unit << "\n";
    std::int64_t first = 1;
    for (const LabelledMesh& m : meshes) {
        std::vector<std::int32_t> index;
        const std::vector<std::int32_t> points = SharedVertices(*m.mesh, index);
        out << "o object_" << m.id << "\n";
        const Coordinates at{*m.mesh, spacing};
        for (const std::int32_t p : points) {
            const std::array<float, 3> v = at.Point(p);
            out << "v " << v[0] << " " << v[1] << " " << v[2] << "\n";
        }
        for (const auto& t : m.mesh->triangles) {
            out << "f " << first + index[t[0]] << " " << first + index[t[1]] << " "
                << first + index[t[2]] << "\n";
        }
        first += static_cast<std::int64_t>(points.size());
    }
    out.Flush();
}

}  // namespace

std::array<std::int64_t, 3> Normal(const Mesh& m, const std::array<std::int32_t, 3>& t) {
    // In 64 bits: coordinates reach 2^28, so 32-bit products could overflow.
    const std::int32_t a = t[0], b = t[1], c = t[2];
    const std::vector<std::int32_t>&X = m.vertices.x, &Y = m.vertices.y, &Z = m.vertices.z;
    const std::int64_t ux = std::int64_t{X[b]} - X[a], uy = std::int64_t{Y[b]} - Y[a],
                       uz = std::int64_t{Z[b]} - Z[a];
    const std::int64_t vx = std::int64_t{X[c]} - X[a], vy = std::int64_t{Y[c]} - Y[a],
                       vz = std::int64_t{Z[c]} - Z[a];
    return {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
}

void WriteMesh(std::FILE* stream, const Mesh& mesh, MeshFormat format, const Spacing& spacing,
               const std::string& unit) {
    switch (format) {
    case MeshFormat::Stl:
        WriteBinaryStl(stream, mesh, spacing, unit);
        break;
    case MeshFormat::StlAscii:
        WriteAsciiStl(stream, mesh, spacing, unit);
        break;
    case MeshFormat::Ply:
        WritePly(stream, mesh, spacing, unit);
        break;
    case MeshFormat::Obj:
        WriteObj(stream, mesh, spacing, unit);
        break;
    }
}

void WriteMeshes(std::FILE* stream, const std::vector<LabelledMesh>& meshes, MeshFormat format,
                 const Spacing& spacing, const std::string& unit) {
    switch (format) {
    case MeshFormat::Stl:
        WriteBinaryStlObjects(stream, meshes, spacing, unit);
        break;
    case MeshFormat::StlAscii:
        WriteAsciiStlObjects(stream, meshes, spacing);
        break;
    case MeshFormat::Ply:
        WritePlyObjects(stream, meshes, spacing, unit);
        break;
    case MeshFormat::Obj:
        WriteObjObjects(stream, meshes, spacing, unit);
        break;
    }
}

void PutN(std::FILE* stream, const void* data, std::size_t length) {
    if (std::fwrite(data, 1, length, stream) != length)
        Fail(Error::Kind::Output, "file not stored.");
}

void PutR(std::FILE* stream, const void* data, std::size_t length) {
    unsigned char buffer[16];
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {  // the fields are at most 4 bytes; longer data goes in pieces
        const std::size_t piece = length < sizeof buffer ? length : sizeof buffer;
        for (std::size_t i = 0; i < piece; ++i)
            buffer[i] = bytes[length - 1 - i];
        PutN(stream, buffer, piece);
        length -= piece;
    }
}

void Put(std::FILE* stream, const void* data, std::size_t length) {
    static const bool little = LittleEndianHost();
    if (little) {
        PutN(stream, data, length);
    } else {
        PutR(stream, data, length);
    }
}

void WriteMesh(std::ostream& out, const Hull& hull, MeshFormat format, const Spacing& spacing,
               const std::string& unit) {
    // The C writer over a stream of the caller's memory: one writer, the same bytes for both.
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&data, &size);
    if (memory == nullptr) throw std::bad_alloc();
    try {
        WriteMesh(memory, hull, format, spacing, unit);
    } catch (...) {
        std::fclose(memory);
        std::free(data);
        throw;
    }
    const bool closed = std::fclose(memory) == 0;
    const std::unique_ptr<char, void (*)(void*)> bytes(data, std::free);
    if (!closed) throw std::bad_alloc();  // the memory stream's only failure
    out.write(bytes.get(), static_cast<std::streamsize>(size));
    if (!out) Fail(Error::Kind::Output, "file not stored.");
}

}  // namespace voxwrap
