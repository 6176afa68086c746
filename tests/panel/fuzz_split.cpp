// libFuzzer target over the panel cutting: arbitrary panels, lattices and
// triangles (including non-finite and huge values) must never crash, loop or
// grow without bound, and sane input must keep every piece on one side of the
// crease with a consistent side mark.
#include "panel/triangle_split.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;

    std::uint32_t word() {
        std::uint32_t w = 0;
        const std::size_t n = size < 4 ? size : 4;
        std::memcpy(&w, data, n);
        data += n;
        size -= n;
        return w;
    }
    // Raw bits when the selector says so (NaN, infinities, denormals, huge
    // values), otherwise a value spread over [lo, hi].
    float value(bool raw, float lo, float hi) {
        const std::uint32_t w = word();
        if (raw) {
            float f;
            std::memcpy(&f, &w, sizeof f);
            return f;
        }
        return lo + (hi - lo) * static_cast<float>(w >> 8) / 16777216.0f;
    }
};

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_split: failed %s\n", what);
    std::abort();
}
#define require(condition) check((condition), #condition)

bool finitePositions(const dent::PanelTriangle& t) {
    for (const dent::PanelVertex& v : t.vertices)
        if (!dent::isFinite(v.position)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    const std::uint32_t selector = in.word();
    const bool raw = (selector & 1u) != 0;

    dent::PanelShape shape;
    shape.sign = (selector & 2u) ? -1.0f : 1.0f;
    if (raw && (selector & 4u)) shape.sign = in.value(true, 0, 0);
    shape.start = in.value(raw, -2.0f, 2.0f);
    shape.length = in.value(raw, 0.25f, 3.5f);
    shape.crease = in.value(raw, 0.35f, 0.65f);
    const float minX = in.value(raw, -1.5f, 0.0f);
    const float maxX = minX + in.value(raw, 0.0f, 2.0f);
    const unsigned segments = (selector >> 8) & 0xFFu;

    dent::SpanFold fold;
    fold.init(minX, maxX, in.value(raw, -0.5f, 0.5f), segments, shape);
    dent::PanelLattice lattice;
    lattice.init(fold, shape);

    dent::PanelTriangle t{};
    t.material = selector >> 16;
    for (dent::PanelVertex& v : t.vertices) {
        v.position = {in.value(raw, minX - 0.2f, maxX + 0.2f), in.value(raw, -4.0f, 4.0f), in.value(raw, -1.0f, 1.0f)};
        v.normal = {in.value(raw, -1.0f, 1.0f), in.value(raw, -1.0f, 1.0f), in.value(raw, -1.0f, 1.0f)};
        v.color[0] = in.value(raw, 0.0f, 255.0f);
        v.uv[0][0] = in.value(raw, 0.0f, 1.0f);
        v.side = static_cast<std::int32_t>(in.word() & 1u);
    }

    const std::vector<dent::PanelTriangle> pieces = dent::splitPanelLattice(t, shape, fold, lattice);
    // A crease, eleven stations, five rows and one diagonal per piece: a
    // triangle over a whole panel gives a few thousand pieces. Rounding on
    // triangles near the float range makes more, but never without limit.
    const bool sane = !raw && finitePositions(t);
    require(pieces.size() <= (sane ? 4096u : 65536u));
    const float creaseS = shape.length * shape.crease + shape.start;
    for (const dent::PanelTriangle& piece : pieces) {
        require(piece.material == t.material);
        if (!sane) continue;
        require(finitePositions(piece));
        const std::int32_t side = piece.vertices[0].side;
        require(side == 0 || side == 1);
        for (const dent::PanelVertex& v : piece.vertices) {
            require(v.side == side);
            const float d = shape.sign * v.position.y - creaseS;
            require(side == 0 ? d <= 1e-5f : d >= -1e-5f);
        }
    }

    // The single cuts on their own, with arbitrary lines: at most two fan
    // pieces per side (three in practice; a fourth appears when a corner on
    // the line gets a crossing that rounds away from it by more than the
    // area test absorbs, on triangles near the float range).
    const float a = in.value(raw, -2.0f, 2.0f), b = in.value(raw, -2.0f, 2.0f);
    const float w = in.value(raw, -1.0f, 1.0f), h = in.value(raw, -1.0f, 1.0f);
    const std::size_t most = 4;
    require(dent::splitCrease(t, shape.sign, a).size() <= most);
    require(dent::splitWidth(t, a).size() <= most);
    require(dent::splitLatticeDiagonal(t, a, b, w, h).size() <= most);
    require(dent::clipCrease(t, shape.sign, a, (selector & 8u) != 0).size() <= 4);
    require(dent::clipWidth(t, b, (selector & 16u) != 0).size() <= 4);
    require(dent::splitPanelSurface(t, shape, minX, maxX, segments).size() <= 65536u);
    return 0;
}
