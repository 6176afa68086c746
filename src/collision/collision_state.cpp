#include "collision/collision_state.h"

#include <cmath>
#include <cstring>

#include "host/bindings.h"
#include "host/memory_check.h"

namespace collision {

namespace {

constexpr float kLeastReach = 0.5f;
constexpr float kSmallestRadius = 0.01f;
constexpr float kLargestRadius = 5.0f;
constexpr std::uint8_t kPrivateModelFlag = 0x01;

bool finiteBox(const Model& model) { return dent::isFinite(model.boxMin) && dent::isFinite(model.boxMax); }

template <typename T>
bool readableArray(const T* array, std::uint32_t count) {
    return count == 0 || kerbmark::readableRange(array, count * static_cast<std::uint32_t>(sizeof(T)));
}

// Largest vertex index of any triangle plus one; 0 without triangles.
std::uint32_t vertexCountOf(const Data& data) {
    std::uint32_t count = 0;
    for (std::uint16_t i = 0; i < data.triangleCount; ++i) {
        for (std::uint16_t index : data.triangles[i].vertex) {
            if (index + 1u > count) count = index + 1u;
        }
    }
    return count;
}

// The source passes every check a private copy relies on; `vertexCount` is its mesh's vertex count.
bool supportedSource(const Model* source, std::uint32_t& vertexCount) {
    if (!source || !kerbmark::readableRange(source, sizeof(Model))) return false;
    const Data* data = source->data;
    if (!data || !kerbmark::readableRange(data, sizeof(Data))) return false;
    if (!finiteBox(*source)) return false;
    if (!(source->boxMin.y < -kLeastReach) || !(source->boxMax.y > kLeastReach)) return false;

    if (!data->spheres || data->sphereCount < 1 || data->sphereCount > kMaxSpheres) return false;
    if (data->boxCount > kMaxBoxes || data->triangleCount > kMaxTriangles || data->lineCount > kMaxLines) return false;
    if (data->lineCount != 0 && !data->lines) return false;
    if (data->boxCount != 0 && !data->boxes) return false;
    if (!readableArray(data->spheres, data->sphereCount) || !readableArray(data->boxes, data->boxCount)) return false;

    vertexCount = 0;
    if (data->triangleCount != 0) {
        if (!data->triangles || !data->vertices) return false;
        if (!readableArray(data->triangles, data->triangleCount)) return false;
        vertexCount = vertexCountOf(*data);
        if (vertexCount < 1 || vertexCount > kMaxVertices) return false;
        if (!readableArray(data->vertices, vertexCount)) return false;
    }

    for (std::uint16_t i = 0; i < data->sphereCount; ++i) {
        const dent::ColSphere& sphere = data->spheres[i];
        if (!dent::isFinite(sphere.center) || !std::isfinite(sphere.radius)) return false;
        if (!(sphere.radius > kSmallestRadius) || !(sphere.radius <= kLargestRadius)) return false;
    }
    return true;
}

// The copy has its own data and its own arrays: nothing written to it can reach the source.
bool ownCopy(const Data* copy, const Data& source, std::uint32_t vertexCount) {
    if (!copy || copy == &source) return false;
    if (!copy->spheres || copy->spheres == source.spheres) return false;
    if (source.boxCount != 0 && (!copy->boxes || copy->boxes == source.boxes)) return false;
    if (vertexCount != 0 && (!copy->vertices || copy->vertices == source.vertices)) return false;
    return true;
}

// An array shared with the source must never reach the host's destruct of the copy.
bool sharesSourceArrays(const Data* copy, const Data& source) {
    if (!copy) return false;
    if (copy == &source) return true;
    return (copy->spheres && copy->spheres == source.spheres) || (copy->boxes && copy->boxes == source.boxes) ||
           (copy->vertices && copy->vertices == source.vertices) || (copy->lines && copy->lines == source.lines) ||
           (copy->triangles && copy->triangles == source.triangles);
}

}  // namespace

State::State() { std::memset(&model, 0, sizeof model); }

State::~State() {
    if (savedSpheres && model.data) {
        model.data->spheres = savedSpheres;
        model.data->sphereCount = savedSphereCount;
    }
    destruct(&model);
}

bool State::init(const Model* sourceModel) {
    std::uint32_t vertexCount = 0;
    if (!supportedSource(sourceModel, vertexCount)) return false;
    const Data& sourceData = *sourceModel->data;

    allocate(&model);
    if (!model.data) return false;
    assign(&model, sourceModel);
    model.flags |= kPrivateModelFlag;

    Data* const copy = model.data;
    if (!ownCopy(copy, sourceData, vertexCount)) {
        // Not a copy of its own: the host's destruct of this model must not free the source's data.
        if (sharesSourceArrays(copy, sourceData)) model.data = nullptr;
        return false;
    }

    source = sourceModel;
    savedSpheres = copy->spheres;
    savedSphereCount = copy->sphereCount;
    restSpheres.assign(copy->spheres, copy->spheres + copy->sphereCount);
    if (copy->boxes) restBoxes.assign(copy->boxes, copy->boxes + copy->boxCount);
    if (vertexCount != 0) restVertices.assign(copy->vertices, copy->vertices + vertexCount);
    return true;
}

bool State::update(std::uint32_t episode, float depth, dent::Vec point, dent::Vec direction, float strength,
                   float maxCompression, bool refine) {
    const float minY = model.boxMin.y;
    const float maxY = model.boxMax.y;
    EpisodeMark mark{lastEpisode, lastEpisodeDepth};
    const CompressionContact contact{episode, depth, point, direction, strength, maxCompression};
    const bool grew = accumulateCrush(crush, mark, contact, minY, maxY);
    lastEpisode = mark.episode;
    lastEpisodeDepth = mark.depth;
    if (!grew) return false;

    Data* const data = model.data;
    if (data) removeCachedPlanes(data);

    spheres = dent::fitSpheres(restSpheres, crush, minY, maxY, refine);
    if (data) {
        data->spheres = spheres.data();
        data->sphereCount = static_cast<std::uint16_t>(spheres.size());
        if (data->boxes) {
            for (std::size_t i = 0; i < restBoxes.size(); ++i)
                data->boxes[i] = crushedBox(restBoxes[i], crush, minY, maxY);
        }
        if (data->vertices) {
            for (std::size_t i = 0; i < restVertices.size(); ++i)
                data->vertices[i] = crushedVertex(restVertices[i], crush, minY, maxY);
        }
    }
    return true;
}

}  // namespace collision
