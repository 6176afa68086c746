#include "car_model.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

#include "host_geometry.h"

namespace hostsim {

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kHalfLength = 2.3f;
constexpr float kHalfWidth = 0.9f;
constexpr float kFloor = -0.32f;
constexpr float kSectionPower = 4.0f;  // superellipse: boxy with round corners

constexpr std::uint32_t kTrim = 0xFF303030u;
constexpr std::uint32_t kUnderside = 0xFF404040u;
constexpr std::uint32_t kGlass = 0xFF5A3A28u;
constexpr std::uint32_t kTailLight = 0xFF1E148Cu;  // deep red, darker than moved metal in the pictures
constexpr std::uint32_t kHeadLight = 0xFFD8F0F0u;
constexpr std::uint32_t kChrome = 0xFFC8C8C8u;
constexpr std::uint32_t kTyre = 0xFF262626u;

Vec3 sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

float smooth01(float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// ------------------------------------------------------------ the body's shape

struct Key {
    float y, z;
};
// The roof line from the rear to the front: boot, rear window, roof, windscreen, bonnet.
const Key kRoofLine[] = {{-2.3f, 0.30f}, {-1.55f, 0.36f}, {-0.95f, 0.84f},
                         {0.25f, 0.86f}, {1.05f, 0.30f},  {2.3f, 0.22f}};

float roofLine(float y) {
    const int last = static_cast<int>(sizeof kRoofLine / sizeof kRoofLine[0]) - 1;
    if (y <= kRoofLine[0].y) return kRoofLine[0].z;
    for (int i = 0; i < last; ++i) {
        const Key a = kRoofLine[i], b = kRoofLine[i + 1];
        if (y <= b.y) return a.z + (b.z - a.z) * smooth01((y - a.y) / (b.y - a.y));
    }
    return kRoofLine[last].z;
}

// Plan-view rounding of the nose and tail.
float endScale(float y) {
    const float u = std::min(1.0f, std::fabs(y) / kHalfLength);
    return std::pow(std::max(0.0f, 1.0f - std::pow(u, 8.0f)), 1.0f / 8.0f);
}

// The greenhouse narrows above the waist line.
float greenhouse(float z) { return 1.0f - 0.2f * smooth01((z - 0.42f) / 0.4f); }

struct Section {
    float halfWidth, halfHeight, centreZ;
};

Section sectionAt(float y) {
    const float s = endScale(y);
    const float top = roofLine(y);
    return {kHalfWidth * s, (top - kFloor) * 0.5f * s, (top + kFloor) * 0.5f};
}

float signedRoot(float c) { return (c < 0.0f ? -1.0f : 1.0f) * std::pow(std::fabs(c), 2.0f / kSectionPower); }

Vec3 bodyPoint(float y, float angle) {
    const Section s = sectionAt(y);
    const float z = s.centreZ + s.halfHeight * signedRoot(std::sin(angle));
    const float x = s.halfWidth * signedRoot(std::cos(angle)) * greenhouse(z);
    return {x, y, z};
}

float superellipse(float ratio) {
    const float r = std::min(1.0f, std::fabs(ratio));
    return std::pow(std::max(0.0f, 1.0f - std::pow(r, kSectionPower)), 1.0f / kSectionPower);
}

// Height of the body's upper surface above (x, y).
float topOfBody(float x, float y) {
    const Section s = sectionAt(y);
    float z = s.centreZ + s.halfHeight * superellipse(x / s.halfWidth);
    for (int i = 0; i < 4; ++i) z = s.centreZ + s.halfHeight * superellipse(x / greenhouse(z) / s.halfWidth);
    return z;
}

// Half-width of the body at (y, z).
float sideOfBody(float y, float z) {
    const Section s = sectionAt(y);
    return s.halfWidth * superellipse((z - s.centreZ) / s.halfHeight) * greenhouse(z);
}

// ------------------------------------------------------------ mesh building

class MeshBuilder {
public:
    explicit MeshBuilder(int uvSets) : uvSets_(uvSets) {}

    std::uint16_t vertex(Vec3 p, float u, float v) {
        mesh_.positions.push_back(p);
        uv_.push_back(u);
        uv_.push_back(v);
        // Prelit: darker toward the ground.
        const int shade = std::clamp(static_cast<int>(150.0f + 70.0f * (p.z - kFloor)), 0, 255);
        mesh_.colours.push_back(0xFF000000u | static_cast<std::uint32_t>(shade) * 0x010101u);
        return static_cast<std::uint16_t>(mesh_.positions.size() - 1);
    }

    void triangle(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint32_t colour) {
        mesh_.triangles.push_back(Triangle{{a, b, c}, material(colour)});
    }

    // Triangles coloured by where their centre lies.
    void triangle(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                  const std::function<std::uint32_t(Vec3)>& colourAt) {
        const Vec3 pa = mesh_.positions[a], pb = mesh_.positions[b], pc = mesh_.positions[c];
        const Vec3 centre{(pa.x + pb.x + pc.x) / 3.0f, (pa.y + pb.y + pc.y) / 3.0f, (pa.z + pb.z + pc.z) / 3.0f};
        triangle(a, b, c, colourAt(centre));
    }

    std::size_t vertexCount() const { return mesh_.positions.size(); }
    Vec3 position(std::size_t i) const { return mesh_.positions[i]; }

    // A closed mesh, every face turned outward, with normals and texture coordinates.
    MeshData finish() {
        orientOutward();
        computeNormals(mesh_);
        for (int set = 0; set < uvSets_; ++set) {
            if (set == 0) {
                mesh_.texCoords.push_back(uv_);
                continue;
            }
            std::vector<float> planar;
            for (const Vec3& p : mesh_.positions) {
                planar.push_back(0.5f + p.x / (2.0f * kHalfWidth));
                planar.push_back(0.5f + p.y / (2.0f * kHalfLength));
            }
            mesh_.texCoords.push_back(planar);
        }
        return mesh_;
    }

private:
    std::uint16_t material(std::uint32_t colour) {
        auto found = std::find(mesh_.materialColours.begin(), mesh_.materialColours.end(), colour);
        if (found != mesh_.materialColours.end())
            return static_cast<std::uint16_t>(found - mesh_.materialColours.begin());
        mesh_.materialColours.push_back(colour);
        return static_cast<std::uint16_t>(mesh_.materialColours.size() - 1);
    }

    // Makes neighbouring triangles agree (each shared edge runs both ways),
    // then turns the whole mesh outward by its signed volume.
    void orientOutward() {
        std::vector<Triangle>& triangles = mesh_.triangles;
        std::map<std::pair<int, int>, std::vector<int>> edges;
        for (int t = 0; t < static_cast<int>(triangles.size()); ++t)
            for (int k = 0; k < 3; ++k) {
                const int a = triangles[t].vertex[k], b = triangles[t].vertex[(k + 1) % 3];
                edges[{std::min(a, b), std::max(a, b)}].push_back(t);
            }
        std::vector<char> seen(triangles.size(), 0);
        for (int start = 0; start < static_cast<int>(triangles.size()); ++start) {
            if (seen[start]) continue;
            seen[start] = 1;
            std::vector<int> queue{start};
            while (!queue.empty()) {
                const int t = queue.back();
                queue.pop_back();
                for (int k = 0; k < 3; ++k) {
                    const int a = triangles[t].vertex[k], b = triangles[t].vertex[(k + 1) % 3];
                    for (int other : edges[{std::min(a, b), std::max(a, b)}]) {
                        if (seen[other]) continue;
                        seen[other] = 1;
                        if (runs(triangles[other], a, b))
                            std::swap(triangles[other].vertex[1], triangles[other].vertex[2]);
                        queue.push_back(other);
                    }
                }
            }
        }
        float volume = 0.0f;
        for (const Triangle& t : triangles)
            volume +=
                dot(mesh_.positions[t.vertex[0]], cross(mesh_.positions[t.vertex[1]], mesh_.positions[t.vertex[2]]));
        if (volume < 0.0f)
            for (Triangle& t : triangles) std::swap(t.vertex[1], t.vertex[2]);
    }

    static bool runs(const Triangle& t, int a, int b) {
        for (int k = 0; k < 3; ++k)
            if (t.vertex[k] == a && t.vertex[(k + 1) % 3] == b) return true;
        return false;
    }

    int uvSets_;
    MeshData mesh_;
    std::vector<float> uv_;
};

// Rings of `around` points each, closed around, with a pole before the first
// ring and after the last.
using RingPoint = std::function<Vec3(int ring, int k)>;

void tube(MeshBuilder& builder, int rings, int around, const RingPoint& point, Vec3 firstPole, Vec3 lastPole,
          const std::function<std::uint32_t(Vec3)>& colourAt) {
    const std::uint16_t base = static_cast<std::uint16_t>(builder.vertexCount());
    for (int i = 0; i < rings; ++i)
        for (int k = 0; k < around; ++k)
            builder.vertex(point(i, k), static_cast<float>(k) / around, static_cast<float>(i) / std::max(1, rings - 1));
    const std::uint16_t first = builder.vertex(firstPole, 0.5f, 0.0f);
    const std::uint16_t last = builder.vertex(lastPole, 0.5f, 1.0f);
    const auto at = [&](int i, int k) { return static_cast<std::uint16_t>(base + i * around + (k % around)); };
    for (int i = 0; i + 1 < rings; ++i)
        for (int k = 0; k < around; ++k) {
            builder.triangle(at(i, k), at(i, k + 1), at(i + 1, k + 1), colourAt);
            builder.triangle(at(i, k), at(i + 1, k + 1), at(i + 1, k), colourAt);
        }
    for (int k = 0; k < around; ++k) {
        builder.triangle(first, at(0, k + 1), at(0, k), colourAt);
        builder.triangle(last, at(rings - 1, k), at(rings - 1, k + 1), colourAt);
    }
}

// A sheet of `columns` x `rows` points with a thickness: the outer face, the
// inner face `thickness` along -outward, and the edge between them.
void slab(MeshBuilder& builder, int columns, int rows, const std::function<Vec3(float u, float v)>& surface,
          Vec3 outward, float thickness, const std::function<std::uint32_t(Vec3)>& outerColour,
          std::uint32_t innerColour) {
    const std::uint16_t outer = static_cast<std::uint16_t>(builder.vertexCount());
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const float u = static_cast<float>(i) / (columns - 1), v = static_cast<float>(j) / (rows - 1);
            builder.vertex(surface(u, v), u, v);
        }
    const std::uint16_t inner = static_cast<std::uint16_t>(builder.vertexCount());
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const float u = static_cast<float>(i) / (columns - 1), v = static_cast<float>(j) / (rows - 1);
            const Vec3 p = surface(u, v);
            builder.vertex({p.x - outward.x * thickness, p.y - outward.y * thickness, p.z - outward.z * thickness}, u,
                           v);
        }
    const auto at = [&](std::uint16_t face, int i, int j) {
        return static_cast<std::uint16_t>(face + j * columns + i);
    };
    for (int j = 0; j + 1 < rows; ++j)
        for (int i = 0; i + 1 < columns; ++i) {
            builder.triangle(at(outer, i, j), at(outer, i + 1, j), at(outer, i + 1, j + 1), outerColour);
            builder.triangle(at(outer, i, j), at(outer, i + 1, j + 1), at(outer, i, j + 1), outerColour);
            builder.triangle(at(inner, i, j), at(inner, i + 1, j + 1), at(inner, i + 1, j), innerColour);
            builder.triangle(at(inner, i, j), at(inner, i, j + 1), at(inner, i + 1, j + 1), innerColour);
        }
    std::vector<std::pair<int, int>> loop;
    for (int i = 0; i < columns; ++i) loop.push_back({i, 0});
    for (int j = 1; j < rows; ++j) loop.push_back({columns - 1, j});
    for (int i = columns - 2; i >= 0; --i) loop.push_back({i, rows - 1});
    for (int j = rows - 2; j >= 1; --j) loop.push_back({0, j});
    for (std::size_t k = 0; k < loop.size(); ++k) {
        const auto [i0, j0] = loop[k];
        const auto [i1, j1] = loop[(k + 1) % loop.size()];
        builder.triangle(at(outer, i0, j0), at(outer, i1, j1), at(inner, i1, j1), innerColour);
        builder.triangle(at(outer, i0, j0), at(inner, i1, j1), at(inner, i0, j0), innerColour);
    }
}

// ------------------------------------------------------------ the parts

// Rings times points around, for a body of `vertices` vertices (two are the poles).
std::pair<int, int> bodyGrid(int vertices) {
    const int ringVertices = vertices - 2;
    for (int around = 64; around <= 200; ++around)
        if (ringVertices % around == 0 && ringVertices / around >= 16) return {ringVertices / around, around};
    for (int around = 63; around >= 8; --around)
        if (ringVertices % around == 0 && ringVertices / around >= 4) return {ringVertices / around, around};
    return {ringVertices / 64, 64};  // the rest are spare vertices
}

std::function<std::uint32_t(Vec3)> bodyColours(std::uint32_t paint) {
    return [paint](Vec3 c) {
        const float x = std::fabs(c.x);
        if (c.y < -2.0f && x > 0.42f && x < 0.86f && c.z > 0.02f && c.z < 0.3f) return kTailLight;
        if (c.y > 2.0f && x > 0.38f && x < 0.82f && c.z > -0.02f && c.z < 0.2f) return kHeadLight;
        if (c.z > 0.4f && c.y > -1.45f && c.y < 0.98f && c.z < roofLine(c.y) - 0.05f) return kGlass;
        if (c.z < -0.2f) return kTrim;
        return paint;
    };
}

MeshData bodyMesh(int vertices, std::uint32_t paint, int uvSets) {
    const auto [rings, around] = bodyGrid(vertices);
    MeshBuilder builder(uvSets);
    const auto ringY = [rings = rings](int i) {
        const float u = -1.0f + 2.0f * static_cast<float>(i + 1) / static_cast<float>(rings + 1);
        return kHalfLength * std::sin(u * kPi * 0.5f);
    };
    const float around_ = static_cast<float>(around);
    tube(
        builder, rings, around, [&](int i, int k) { return bodyPoint(ringY(i), 2.0f * kPi * k / around_); },
        {0.0f, -kHalfLength, sectionAt(-kHalfLength).centreZ}, {0.0f, kHalfLength, sectionAt(kHalfLength).centreZ},
        bodyColours(paint));
    while (static_cast<int>(builder.vertexCount()) < vertices) builder.vertex(builder.position(0), 0.0f, 0.0f);
    return builder.finish();
}

// A sheet lying on the body's top between model y0 and y1, |x| <= halfWidth,
// `lift` above the body, in the coordinates of a frame at `origin`.
MeshData topPanel(float halfWidth, float y0, float y1, int columns, int rows, float lift, Vec3 origin,
                  const std::function<std::uint32_t(Vec3)>& colours, std::uint32_t inner) {
    MeshBuilder builder(1);
    slab(
        builder, columns, rows,
        [&](float u, float v) {
            const float x = -halfWidth + 2.0f * halfWidth * u;
            const float y = y0 + (y1 - y0) * v;
            return sub(Vec3{x, y, topOfBody(x, y) + lift}, origin);
        },
        {0.0f, 0.0f, 1.0f}, 0.02f, colours, inner);
    return builder.finish();
}

// A door on the body's side (`side` -1 left, +1 right) between model y0..y1
// and z0..z1, in the coordinates of a frame at `origin`.
MeshData doorMesh(float side, float y0, float y1, Vec3 origin, std::uint32_t paint, int columns = 18, int rows = 12) {
    MeshBuilder builder(1);
    const float handleY = y0 + (y1 - y0) * 0.75f;
    slab(
        builder, columns, rows,
        [&](float u, float v) {
            const float y = y0 + (y1 - y0) * u;
            const float z = -0.22f + 0.6f * v;
            return sub(Vec3{side * (sideOfBody(y, z) + 0.012f), y, z}, origin);
        },
        {side, 0.0f, 0.0f}, 0.03f,
        [=](Vec3 c) {
            const float y = c.y + origin.y, z = c.z + origin.z;
            return (std::fabs(y - handleY) < 0.06f && z > 0.2f && z < 0.26f) ? kChrome : paint;
        },
        kTrim);
    return builder.finish();
}

MeshData bumperMesh() {
    MeshBuilder builder(1);
    const int rings = 34, around = 16;
    tube(
        builder, rings, around,
        [&](int i, int k) {
            const float x = -0.92f + 1.84f * static_cast<float>(i) / (rings - 1);
            const float s = std::pow(std::max(0.0f, 1.0f - std::pow(std::fabs(x) / 0.93f, 10.0f)), 0.1f);
            const float angle = 2.0f * kPi * k / around;
            return Vec3{x, 0.11f * s * signedRoot(std::cos(angle)), 0.13f * s * signedRoot(std::sin(angle))};
        },
        {-0.93f, 0.0f, 0.0f}, {0.93f, 0.0f, 0.0f}, [](Vec3 c) { return c.z > 0.09f ? kChrome : kTrim; });
    return builder.finish();
}

// A wheel about its x axis, with inset hubs.
MeshData wheelMesh() {
    MeshBuilder builder(1);
    const int around = 24;
    const float xs[4] = {-0.09f, -0.11f, 0.11f, 0.09f};
    const float radii[4] = {0.2f, 0.33f, 0.33f, 0.2f};
    tube(
        builder, 4, around,
        [&](int i, int k) {
            const float angle = 2.0f * kPi * k / around;
            return Vec3{xs[i], radii[i] * std::cos(angle), radii[i] * std::sin(angle)};
        },
        {-0.07f, 0.0f, 0.0f}, {0.07f, 0.0f, 0.0f},
        [](Vec3 c) { return std::sqrt(c.y * c.y + c.z * c.z) < 0.21f ? kChrome : kTyre; });
    return builder.finish();
}

MeshData exhaustMesh() {
    MeshBuilder builder(1);
    const int around = 12;
    tube(
        builder, 2, around,
        [&](int i, int k) {
            const float angle = 2.0f * kPi * k / around;
            return Vec3{0.04f * std::cos(angle), -0.11f + 0.22f * i, 0.04f * std::sin(angle)};
        },
        {0.0f, -0.11f, 0.0f}, {0.0f, 0.11f, 0.0f}, [](Vec3) { return kChrome; });
    return builder.finish();
}

// A wing mirror: a small closed box.
MeshData mirrorMesh(std::uint32_t paint) {
    MeshBuilder builder(1);
    tube(
        builder, 2, 4,
        [&](int i, int k) {
            const float corners[4][2] = {{-0.06f, -0.04f}, {0.06f, -0.04f}, {0.06f, 0.04f}, {-0.06f, 0.04f}};
            return Vec3{corners[k][0], -0.03f + 0.06f * i, corners[k][1]};
        },
        {0.0f, -0.03f, 0.0f}, {0.0f, 0.03f, 0.0f}, [paint](Vec3) { return paint; });
    return builder.finish();
}

Geometry* make(const MeshData& mesh) { return newMeshGeometry(mesh); }

// Every two consecutive triangles (a cell of a slab) given their own copies
// of their vertices, every attribute copied: the mesh split along every
// cell's edges, as a game model's panel is along its seams; the normals stay
// as the shared mesh had them.
void splitCells(MeshData& mesh) {
    MeshData split = mesh;
    split.positions.clear();
    split.normals.clear();
    split.colours.clear();
    for (std::vector<float>& set : split.texCoords) set.clear();
    for (std::size_t first = 0; first < mesh.triangles.size(); first += 2) {
        std::map<std::uint16_t, std::uint16_t> own;
        for (std::size_t t = first; t < std::min(first + 2, mesh.triangles.size()); ++t)
            for (std::uint16_t& corner : split.triangles[t].vertex) {
                const std::uint16_t source = corner;
                const auto found = own.find(source);
                if (found != own.end()) {
                    corner = found->second;
                    continue;
                }
                const auto index = static_cast<std::uint16_t>(split.positions.size());
                split.positions.push_back(mesh.positions[source]);
                if (!mesh.normals.empty()) split.normals.push_back(mesh.normals[source]);
                if (!mesh.colours.empty()) split.colours.push_back(mesh.colours[source]);
                for (std::size_t set = 0; set < mesh.texCoords.size(); ++set) {
                    split.texCoords[set].push_back(mesh.texCoords[set][2 * source]);
                    split.texCoords[set].push_back(mesh.texCoords[set][2 * source + 1]);
                }
                own[source] = corner = index;
            }
    }
    mesh = std::move(split);
}

CarModel buildModel(std::int16_t modelId, int bodyVertices, const PanelDetail& detail) {
    const std::uint32_t paint = paintOf(modelId);
    const auto paintOnly = [paint](Vec3) { return paint; };
    CarModel model;
    std::vector<ModelFrame>& f = model.frames;
    const auto frame = [&f](const char* name, int parent, Vec3 position, float turn = 0.0f,
                            Geometry* geometry = nullptr) {
        f.push_back(ModelFrame{name, parent, position, turn, geometry});
        return static_cast<int>(f.size()) - 1;
    };

    const int root = frame(("car" + std::to_string(modelId)).c_str(), -1, {0.0f, 0.0f, 0.0f});
    const int chassis = frame("chassis_dummy", root, {0.0f, 0.0f, 0.0f});
    frame("chassis", chassis, {0.0f, 0.0f, 0.0f}, 0.0f, make(bodyMesh(bodyVertices, paint, 2)));
    frame("chassis_vlo", chassis, {0.0f, 0.0f, 0.0f}, 0.0f, make(bodyMesh(82, paint, 1)));
    frame("exhaust", chassis, {0.45f, -2.32f, -0.3f}, 0.0f, make(exhaustMesh()));
    frame("misc_a", chassis, {-0.95f, 0.88f, 0.42f}, 0.0f, make(mirrorMesh(paint)));

    // One wheel geometry on four frames; the right wheels are turned round,
    // and the rear wheels hang below their dummies as the host's models do.
    Geometry* wheel = make(wheelMesh());
    frame("wheel_lf_dummy", root, {-0.8f, 1.42f, -0.32f}, 0.0f, wheel);
    frame("wheel_rf_dummy", root, {0.8f, 1.42f, -0.32f}, kPi, wheel);
    const int leftBack = frame("wheel_lb_dummy", root, {-0.8f, -1.42f, -0.32f});
    frame("hub_lb", leftBack, {0.0f, 0.0f, 0.0f}, 0.0f, wheel);
    const int rightBack = frame("wheel_rb_dummy", root, {0.8f, -1.42f, -0.32f}, kPi);
    frame("hub_rb", rightBack, {0.0f, 0.0f, 0.0f}, 0.0f, wheel);

    const Vec3 bonnetAt{0.0f, 1.02f, 0.3f};
    const int bonnet = frame("bonnet_dummy", root, bonnetAt);
    const bool usualPanels = !detail.bonnetColumns || !detail.bonnetRows || !detail.bootColumns || !detail.bootRows;
    const PanelDetail grids = usualPanels ? PanelDetail{25, 21, 23, 13, false} : detail;
    const auto panel = [&grids](MeshData mesh) {
        if (grids.seams) splitCells(mesh);
        return make(mesh);
    };
    frame("bonnet_hi_ok", bonnet, {0.0f, 0.0f, 0.0f}, 0.0f,
          panel(topPanel(0.76f, 1.05f, 2.18f, grids.bonnetColumns, grids.bonnetRows, 0.012f, bonnetAt, paintOnly,
                         kUnderside)));
    const Vec3 bootAt{0.0f, -1.52f, 0.36f};
    const int boot = frame("boot_dummy", root, bootAt);
    frame("boot_hi_ok", boot, {0.0f, 0.0f, 0.0f}, 0.0f,
          panel(topPanel(0.72f, -1.58f, -2.2f, grids.bootColumns, grids.bootRows, 0.012f, bootAt, paintOnly,
                         kUnderside)));

    struct Door {
        const char* dummy;
        const char* part;
        float side, y0, y1;
    };
    const Door doors[] = {{"door_lf_dummy", "door_lf_hi_ok", -1.0f, -0.02f, 0.93f},
                          {"door_rf_dummy", "door_rf_hi_ok", 1.0f, -0.02f, 0.93f},
                          {"door_lr_dummy", "door_lr_hi_ok", -1.0f, -1.02f, -0.06f},
                          {"door_rr_dummy", "door_rr_hi_ok", 1.0f, -1.02f, -0.06f}};
    for (const Door& door : doors) {
        const Vec3 at{door.side * 0.88f, door.y1, 0.0f};
        const int dummy = frame(door.dummy, root, at);
        frame(door.part, dummy, {0.0f, 0.0f, 0.0f}, 0.0f, make(doorMesh(door.side, door.y0, door.y1, at, paint)));
    }

    Geometry* bumper = make(bumperMesh());
    const int front = frame("bump_front_dummy", root, {0.0f, 2.25f, -0.2f});
    frame("bump_front_hi_ok", front, {0.0f, 0.0f, 0.0f}, 0.0f, bumper);
    const int rear = frame("bump_rear_dummy", root, {0.0f, -2.25f, -0.2f}, kPi);
    frame("bump_rear_hi_ok", rear, {0.0f, 0.0f, 0.0f}, 0.0f, make(bumperMesh()));

    const Vec3 screenAt{0.0f, 0.62f, 0.56f};
    const int screen = frame("windscreen_dummy", root, screenAt);
    frame("windscreen_hi_ok", screen, {0.0f, 0.0f, 0.0f}, 0.0f,
          make(topPanel(
              0.66f, 0.32f, 0.98f, 15, 11, 0.01f, screenAt, [](Vec3) { return kGlass; }, kTrim)));
    return model;
}

// The same frames for the body, bonnet and front left door, each coarse, and
// no other part.
CarModel buildSmallModel(std::int16_t modelId) {
    const std::uint32_t paint = paintOf(modelId);
    const auto paintOnly = [paint](Vec3) { return paint; };
    CarModel model;
    std::vector<ModelFrame>& f = model.frames;
    const auto frame = [&f](const char* name, int parent, Vec3 position, Geometry* geometry = nullptr) {
        f.push_back(ModelFrame{name, parent, position, 0.0f, geometry});
        return static_cast<int>(f.size()) - 1;
    };
    const int root = frame(("car" + std::to_string(modelId)).c_str(), -1, {0.0f, 0.0f, 0.0f});
    const int chassis = frame("chassis_dummy", root, {0.0f, 0.0f, 0.0f});
    frame("chassis", chassis, {0.0f, 0.0f, 0.0f}, make(bodyMesh(kSmallBodyVertices, paint, 2)));
    const Vec3 bonnetAt{0.0f, 1.02f, 0.3f};
    frame("bonnet_hi_ok", frame("bonnet_dummy", root, bonnetAt), {0.0f, 0.0f, 0.0f},
          make(topPanel(0.76f, 1.05f, 2.18f, 4, 3, 0.012f, bonnetAt, paintOnly, kUnderside)));
    const Vec3 doorAt{-0.88f, 0.93f, 0.0f};
    frame("door_lf_hi_ok", frame("door_lf_dummy", root, doorAt), {0.0f, 0.0f, 0.0f},
          make(doorMesh(-1.0f, -0.02f, 0.93f, doorAt, paint, 4, 3)));
    return model;
}

}  // namespace

std::uint32_t paintOf(std::int16_t modelId) {
    switch (modelId) {
        case 400:
            return 0xFFB47846u;  // steel blue
        case 401:
            return 0xFF5A965Au;  // green
        default:
            return 0xFF50B4D2u;  // sand
    }
}

const CarModel& carModel(std::int16_t modelId, int bodyVertices, const PanelDetail& panels) {
    static std::map<std::tuple<std::int16_t, int, int, int, int, int, bool>, std::unique_ptr<CarModel>> models;
    if (bodyVertices <= 0) bodyVertices = kUsualBodyVertices;
    std::unique_ptr<CarModel>& model = models[{modelId, bodyVertices, panels.bonnetColumns, panels.bonnetRows,
                                               panels.bootColumns, panels.bootRows, panels.seams}];
    if (!model) model = std::make_unique<CarModel>(buildModel(modelId, bodyVertices, panels));
    return *model;
}

const CarModel& smallCarModel(std::int16_t modelId) {
    static std::map<std::int16_t, std::unique_ptr<CarModel>> models;
    std::unique_ptr<CarModel>& model = models[modelId];
    if (!model) model = std::make_unique<CarModel>(buildSmallModel(modelId));
    return *model;
}

}  // namespace hostsim
