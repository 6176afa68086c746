#include "panel/sheet_places.h"

#include <cstring>

namespace dent {

namespace {

struct Place {
    std::uint32_t x;
    std::uint32_t y;
    std::int32_t side;

    bool operator==(const Place& other) const { return x == other.x && y == other.y && side == other.side; }
};

Place placeOf(Vec p, std::int32_t side) {
    Place place{0, 0, side};
    std::memcpy(&place.x, &p.x, sizeof place.x);
    std::memcpy(&place.y, &p.y, sizeof place.y);
    return place;
}

std::uint32_t hashOf(const Place& place) {
    std::uint32_t h = place.x * 0x9E3779B1u ^ place.y * 0x85EBCA77u ^ static_cast<std::uint32_t>(place.side) * 0xC2B2AE3Du;
    return h ^ (h >> 15);
}

}  // namespace

void clearPlaceTable(std::size_t count, std::vector<std::uint32_t>& table) {
    // At most half full, so that probes stay short.
    std::size_t slots = 16;
    while (slots < 2 * count) slots *= 2;
    table.assign(slots, 0);
}

void findSheetPlaces(const Vec* rest, const std::int32_t* sides, std::size_t begin, std::size_t end,
                     std::vector<std::uint32_t>& table, std::vector<std::uint32_t>& sheetOf,
                     std::vector<std::uint32_t>& firstVertices) {
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = begin; i < end; ++i) {
        const Place place = placeOf(rest[i], sides[i]);
        std::size_t slot = hashOf(place) & mask;
        for (;;) {
            const std::uint32_t held = table[slot];
            if (held == 0) {
                // A new place: vertex i opens its sheet point.
                table[slot] = static_cast<std::uint32_t>(i + 1);
                sheetOf.push_back(static_cast<std::uint32_t>(firstVertices.size()));
                firstVertices.push_back(static_cast<std::uint32_t>(i));
                break;
            }
            const std::uint32_t first = held - 1;
            if (placeOf(rest[first], sides[first]) == place) {
                sheetOf.push_back(sheetOf[first]);
                break;
            }
            slot = (slot + 1) & mask;
        }
    }
}

}  // namespace dent
