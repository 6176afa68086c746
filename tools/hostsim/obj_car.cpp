#include "obj_car.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <sstream>
#include <tuple>

#include "file_names.h"
#include "host_geometry.h"

// Debian's libtinyobjloader-dev ships the reader for x86_64 only: its
// header-only form is compiled into the 32-bit simulated host here.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

namespace hostsim {

namespace {

constexpr std::uint32_t kGlass = 0xFF5A3A28u;
constexpr std::uint32_t kTyre = 0xFF262626u;
constexpr std::uint32_t kChrome = 0xFFC8C8C8u;
constexpr std::uint32_t kTrim = 0xFF303030u;
constexpr int kMostGeometryVertices = 65535;  // triangles index vertices with 16 bits

// Where an object's triangles go: the atomic's frame, the dummy frame it
// hangs below (empty: on the body's dummy), and the colour without a material.
struct Placement {
    std::string part;
    std::string dummy;
    std::uint32_t colour;
};

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool startsWith(const std::string& text, const std::string& word) { return text.compare(0, word.size(), word) == 0; }

bool endsWith(const std::string& text, const std::string& word) {
    return text.size() > word.size() && text.compare(text.size() - word.size(), word.size(), word) == 0;
}

// The name without letter case, numbered suffix and the host's own suffixes.
std::string plainName(const std::string& name) {
    std::string plain = lowerCase(name.substr(0, name.find('.')));
    for (bool cut = true; cut;) {
        cut = false;
        for (const char* suffix : {"_dummy", "_hi_ok", "_ok", "_dam"}) {
            if (endsWith(plain, suffix)) {
                plain.resize(plain.size() - std::string(suffix).size());
                cut = true;
            }
        }
    }
    return plain;
}

Placement placementOf(const std::string& objectName, std::uint32_t paint) {
    const std::string name = plainName(objectName);
    const auto panel = [&](const std::string& base, std::uint32_t colour) {
        return Placement{base + "_hi_ok", base + "_dummy", colour};
    };
    if (name == "chassis_vlo") return {"chassis_vlo", "", paint};
    if (startsWith(name, "bonnet") || startsWith(name, "hood")) return panel("bonnet", paint);
    if (startsWith(name, "boot") || startsWith(name, "trunk")) return panel("boot", paint);
    if (startsWith(name, "wheel_") || startsWith(name, "hub_")) {
        const std::string dummy = "wheel_" + name.substr(name.find('_') + 1) + "_dummy";
        return {dummy, dummy, kTyre};
    }
    if (startsWith(name, "door_") || startsWith(name, "wing_")) return panel(name, paint);
    if (startsWith(name, "bump_")) return panel(name, kTrim);
    if (name == "windscreen" || name == "windshield") return panel("windscreen", kGlass);
    if (name == "exhaust" || startsWith(name, "misc_")) return {name, "", kChrome};
    return {"chassis", "", paint};  // the body, and whatever has no name of the host's
}

std::uint32_t colourOf(const tinyobj::material_t& material) {
    const auto channel = [](tinyobj::real_t value) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(static_cast<float>(value), 0.0f, 1.0f) * 255.0f));
    };
    return 0xFF000000u | channel(material.diffuse[2]) << 16 | channel(material.diffuse[1]) << 8 |
           channel(material.diffuse[0]);
}

// One part's mesh as it is gathered: a vertex per distinct (position,
// normal, texture coordinate) of the file.
struct PartMesh {
    Placement placement;
    std::vector<std::string> objects;
    std::map<std::tuple<int, int, int>, std::uint32_t> vertexOf;
    std::vector<tinyobj::index_t> corners;  // one per vertex
    std::vector<std::uint32_t> triangleCorners;
    std::vector<std::uint32_t> triangleColours;
};

bool finiteAll(const std::vector<tinyobj::real_t>& values, std::size_t& first) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            first = i;
            return false;
        }
    }
    return true;
}

// Grows the box from `low` to `high` to hold `p`.
void takeIn(Vec3& low, Vec3& high, Vec3 p) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
}

// The model's material libraries, beside it, opened by their UTF-8 names.
class MaterialsBeside final : public tinyobj::MaterialReader {
public:
    explicit MaterialsBeside(const std::string& folder) : folder_(folder) {}
    bool operator()(const std::string& name, std::vector<tinyobj::material_t>* materials,
                    std::map<std::string, int>* names, std::string* warnings, std::string* errors) override {
        std::string bytes;
        if (!readWholeFile(folder_ + name, bytes)) {
            *warnings += "Material file [ " + name + " ] not found beside the model\n";
            return false;
        }
        std::istringstream in(bytes);
        tinyobj::LoadMtl(names, materials, &in, warnings, errors);
        return true;
    }

private:
    std::string folder_;
};

}  // namespace

bool loadObjCar(const std::string& path, std::uint32_t paint, ObjCar& car, std::string& error) {
    const auto fail = [&](const std::string& reason) {
        error = path + ": " + reason;
        return false;
    };
    std::string bytes;
    if (!readWholeFile(path, bytes)) return fail("cannot open the file");

    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warnings, errors;
    std::istringstream in(bytes);
    MaterialsBeside beside(path.substr(0, path.find_last_of("/\\") + 1));
    const bool read = tinyobj::LoadObj(&attrib, &shapes, &materials, &warnings, &errors, &in, &beside, true, false);
    const auto firstLine = [](const std::string& text) { return text.substr(0, text.find('\n')); };
    if (!read) return fail("not a readable OBJ model: " + firstLine(errors));
    // The reader keeps triangles whose indices lie outside the file (checked
    // below, by object) but skips such polygons with only a warning.
    if (warnings.find("invalid vertex index") != std::string::npos)
        return fail("index out of range: a polygon names a vertex the file does not have");

    const std::size_t vertexCount = attrib.vertices.size() / 3;
    if (vertexCount == 0) return fail("no vertices: not an OBJ model");
    std::size_t bad = 0;
    if (!finiteAll(attrib.vertices, bad))
        return fail("vertex " + std::to_string(bad / 3 + 1) + " has a coordinate that is not a finite number");
    if (!finiteAll(attrib.normals, bad))
        return fail("normal " + std::to_string(bad / 3 + 1) + " is not made of finite numbers");
    if (!finiteAll(attrib.texcoords, bad))
        return fail("texture coordinate " + std::to_string(bad / 2 + 1) + " is not made of finite numbers");

    // Objects into parts, faces into triangles of distinct vertices.
    std::vector<PartMesh> parts;
    std::size_t faces = 0;
    for (const tinyobj::shape_t& shape : shapes) {
        const std::vector<tinyobj::index_t>& indices = shape.mesh.indices;
        if (indices.empty()) continue;
        const Placement placement = placementOf(shape.name, paint);
        auto part = std::find_if(parts.begin(), parts.end(),
                                 [&](const PartMesh& p) { return p.placement.part == placement.part; });
        if (part == parts.end()) part = parts.insert(parts.end(), PartMesh{placement, {}, {}, {}, {}, {}});
        part->objects.push_back(shape.name.empty() ? "(unnamed)" : shape.name);
        std::size_t at = 0;
        for (std::size_t face = 0; face < shape.mesh.num_face_vertices.size(); ++face) {
            const std::size_t corners = shape.mesh.num_face_vertices[face];
            if (corners != 3 || at + 3 > indices.size()) return fail("a face could not be split into triangles");
            for (std::size_t k = 0; k < 3; ++k) {
                const tinyobj::index_t index = indices[at + k];
                const auto outside = [&](int named, std::size_t count, const char* what) {
                    return fail("index out of range: face " + std::to_string(face + 1) + " of object " +
                                part->objects.back() + " names " + what + " " + std::to_string(named + 1) +
                                ", the file has " + std::to_string(count));
                };
                if (index.vertex_index < 0 || static_cast<std::size_t>(index.vertex_index) >= vertexCount)
                    return outside(index.vertex_index, vertexCount, "vertex");
                if (index.normal_index >= static_cast<int>(attrib.normals.size() / 3))
                    return outside(index.normal_index, attrib.normals.size() / 3, "normal");
                if (index.texcoord_index >= static_cast<int>(attrib.texcoords.size() / 2))
                    return outside(index.texcoord_index, attrib.texcoords.size() / 2, "texture coordinate");
                const auto key = std::make_tuple(index.vertex_index, index.normal_index, index.texcoord_index);
                auto found = part->vertexOf.find(key);
                if (found == part->vertexOf.end()) {
                    found = part->vertexOf.emplace(key, static_cast<std::uint32_t>(part->corners.size())).first;
                    part->corners.push_back(index);
                }
                part->triangleCorners.push_back(found->second);
            }
            const int material = face < shape.mesh.material_ids.size() ? shape.mesh.material_ids[face] : -1;
            part->triangleColours.push_back(material >= 0 && static_cast<std::size_t>(material) < materials.size()
                                                ? colourOf(materials[material])
                                                : placement.colour);
            at += 3;
            ++faces;
        }
    }
    if (faces == 0) return fail("no faces");

    // Bounds of the whole car, then every part in its frame.
    car = ObjCar{};
    car.low = car.high = {attrib.vertices[0], attrib.vertices[1], attrib.vertices[2]};
    for (std::size_t i = 0; i < vertexCount; ++i)
        takeIn(car.low, car.high, {attrib.vertices[3 * i], attrib.vertices[3 * i + 1], attrib.vertices[3 * i + 2]});
    std::vector<ModelFrame>& frames = car.model.frames;
    frames.push_back(ModelFrame{"car_obj", -1, {0.0f, 0.0f, 0.0f}, 0.0f, nullptr});
    frames.push_back(ModelFrame{"chassis_dummy", 0, {0.0f, 0.0f, 0.0f}, 0.0f, nullptr});
    std::stable_sort(parts.begin(), parts.end(), [](const PartMesh& a, const PartMesh& b) {
        return (a.placement.part == "chassis") > (b.placement.part == "chassis");
    });
    for (const PartMesh& part : parts) {
        const std::size_t vertices = part.corners.size();
        std::string objects;
        for (const std::string& object : part.objects) objects += (objects.empty() ? "" : ", ") + object;
        if (vertices > static_cast<std::size_t>(kMostGeometryVertices))
            return fail("object " + objects + " has " + std::to_string(vertices) + " vertices; a host geometry holds " +
                        std::to_string(kMostGeometryVertices));

        // A part of its own hangs below a dummy at the middle of its bounds.
        Vec3 origin{0.0f, 0.0f, 0.0f};
        if (!part.placement.dummy.empty()) {
            Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
            for (const tinyobj::index_t& corner : part.corners) {
                const float* p = &attrib.vertices[3 * corner.vertex_index];
                takeIn(low, high, {p[0], p[1], p[2]});
            }
            origin = {(low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, (low.z + high.z) * 0.5f};
        }

        MeshData mesh;
        bool fileNormals = true, fileTexCoords = true;
        std::vector<float> texCoords;
        for (const tinyobj::index_t& corner : part.corners) {
            const float* p = &attrib.vertices[3 * corner.vertex_index];
            mesh.positions.push_back({p[0] - origin.x, p[1] - origin.y, p[2] - origin.z});
            fileNormals = fileNormals && corner.normal_index >= 0;
            if (corner.normal_index >= 0) {
                const float* n = &attrib.normals[3 * corner.normal_index];
                mesh.normals.push_back({n[0], n[1], n[2]});
            }
            fileTexCoords = fileTexCoords && corner.texcoord_index >= 0;
            if (corner.texcoord_index >= 0) {
                texCoords.push_back(attrib.texcoords[2 * corner.texcoord_index]);
                texCoords.push_back(attrib.texcoords[2 * corner.texcoord_index + 1]);
            }
        }
        if (fileTexCoords) mesh.texCoords.push_back(texCoords);
        for (std::size_t t = 0; t < part.triangleColours.size(); ++t) {
            const std::uint32_t colour = part.triangleColours[t];
            auto found = std::find(mesh.materialColours.begin(), mesh.materialColours.end(), colour);
            if (found == mesh.materialColours.end()) found = mesh.materialColours.insert(found, colour);
            Triangle triangle{};
            for (int k = 0; k < 3; ++k)
                triangle.vertex[k] = static_cast<std::uint16_t>(part.triangleCorners[3 * t + k]);
            triangle.material = static_cast<std::uint16_t>(found - mesh.materialColours.begin());
            mesh.triangles.push_back(triangle);
        }
        if (!fileNormals) computeNormals(mesh);

        Geometry* geometry = newMeshGeometry(mesh);
        if (!geometry) return fail("object " + objects + " cannot be made into a host geometry");
        int parent = 1;  // the body's dummy
        if (!part.placement.dummy.empty() && part.placement.dummy != part.placement.part) {
            frames.push_back(ModelFrame{part.placement.dummy, 0, origin, 0.0f, nullptr});
            parent = static_cast<int>(frames.size()) - 1;
            frames.push_back(ModelFrame{part.placement.part, parent, {0.0f, 0.0f, 0.0f}, 0.0f, geometry});
        } else {
            frames.push_back(ModelFrame{part.placement.part, part.placement.dummy.empty() ? parent : 0, origin, 0.0f,
                                        geometry});
        }
        std::string note = objects + " -> " + part.placement.part + " (" + std::to_string(vertices) + " vertices" +
                           (fileNormals ? "" : ", normals computed");
        if (vertices > static_cast<std::size_t>(kMaxDeformableVertices))
            note += ", more than the " + std::to_string(kMaxDeformableVertices) +
                    " the module deforms: it keeps its shape";
        car.notes.push_back(note + ")");
    }
    return true;
}

}  // namespace hostsim
