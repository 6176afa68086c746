#include "collision/compression.h"

#include <cmath>

namespace collision {

namespace {

constexpr float kSideShare = 0.35f;
constexpr float kLengthwise = 0.65f;
constexpr float kLimitShare = 0.3f;
constexpr float kLeastGrowth = 0.00001f;
constexpr float kVertexScale = 128.0f;

}  // namespace

bool accumulateCrush(dent::Crush& crush, EpisodeMark& mark, const CompressionContact& contact, float minY,
                     float maxY) {
    float prior = 0.0f;
    if (mark.episode == contact.episode) {
        prior = mark.depth;
    } else {
        mark.episode = contact.episode;
    }
    // A non-finite depth never poisons the mark of its episode.
    mark.depth = contact.depth > prior ? contact.depth : prior;

    const bool front = contact.point.y > kSideShare * maxY && contact.direction.y < -kLengthwise;
    const bool rear = !front && contact.point.y < kSideShare * minY && contact.direction.y > kLengthwise;
    if (!front && !rear) return false;

    float growth = contact.depth - prior;
    if (!(growth > 0.0f)) growth = 0.0f;
    const float amount = std::fabs(contact.direction.y) * growth * contact.strength;
    if (!(amount > 0.0f) || !std::isfinite(amount)) return false;

    const float sideLimit = front ? kLimitShare * maxY : kLimitShare * -minY;
    const float limit = sideLimit < contact.maxCompression ? sideLimit : contact.maxCompression;
    if (!(limit > 0.0f)) return false;

    float& side = front ? crush.front : crush.rear;
    const float old = side;
    float grown = old + amount;
    if (grown > limit) grown = limit;
    // Compression only grows: a lower limit never takes any of it back.
    if (grown > old) side = grown;
    return grown > old + kLeastGrowth;
}

Box crushedBox(const Box& rest, const dent::Crush& crush, float minY, float maxY) {
    Box box = rest;
    box.min.y = dent::crushY(rest.min.y, crush, minY, maxY);
    box.max.y = dent::crushY(rest.max.y, crush, minY, maxY);
    return box;
}

Vertex crushedVertex(const Vertex& rest, const dent::Crush& crush, float minY, float maxY) {
    const float y = static_cast<float>(rest.y) / kVertexScale;
    // roundf rounds halves away from zero.
    float scaled = std::round(dent::crushY(y, crush, minY, maxY) * kVertexScale);
    if (!(scaled >= -32768.0f)) scaled = scaled < 0.0f ? -32768.0f : static_cast<float>(rest.y);
    if (scaled > 32767.0f) scaled = 32767.0f;
    Vertex vertex = rest;
    vertex.y = static_cast<std::int16_t>(scaled);
    return vertex;
}

}  // namespace collision
