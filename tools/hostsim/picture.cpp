#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace hostsim {
namespace {

using dent::Vec;

constexpr int kViewWidth = 640;
constexpr int kViewHeight = 420;

Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Orthographic camera looking along `forward`, with z up in the picture.
struct View {
    Vec right, up, forward;
    Vec centre;
    float scale;  // pixels per metre
};

View makeView(Vec lookDirection, Vec centre, float scale) {
    View v;
    v.forward = dent::normalized(lookDirection);
    v.right = dent::normalized(cross(v.forward, {0, 0, 1}));
    v.up = cross(v.right, v.forward);
    v.centre = centre;
    v.scale = scale;
    return v;
}

struct Canvas {
    int width, height;
    std::vector<std::uint8_t> rgb;
    std::vector<float> depth;

    Canvas(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3), depth(static_cast<std::size_t>(w) * h) {}

    void clear(int x0, int y0, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                p[0] = r, p[1] = g, p[2] = b;
                depth[static_cast<std::size_t>(y) * width + x] = std::numeric_limits<float>::infinity();
            }
    }
};

std::uint8_t channel(float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); }

// Draws one scene into the viewport at (x0, y0) of kViewWidth x kViewHeight.
void drawScene(Canvas& canvas, const PictureScene& scene, const View& view, int x0, int y0) {
    canvas.clear(x0, y0, kViewWidth, kViewHeight, 236, 238, 242);
    // A light above and behind the viewer: every visible face is lit, and a
    // dent's slopes catch it differently from the flat metal around them.
    const Vec light = dent::normalized(-view.forward + view.up * 0.7f + view.right * 0.25f);
    for (const PictureTriangle& t : scene) {
        Vec n = dent::normalized(cross(t.corner[1] - t.corner[0], t.corner[2] - t.corner[0]));
        if (dent::dot(n, view.forward) > 0) n = -n;  // two-sided: face the camera
        const float lit = 0.2f + 0.8f * std::max(0.0f, dent::dot(n, light));
        float sx[3], sy[3], sz[3];
        for (int k = 0; k < 3; ++k) {
            const Vec d = t.corner[k] - view.centre;
            sx[k] = x0 + kViewWidth * 0.5f + dent::dot(d, view.right) * view.scale;
            sy[k] = y0 + kViewHeight * 0.5f - dent::dot(d, view.up) * view.scale;
            sz[k] = dent::dot(d, view.forward);
        }
        const float area = (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
        if (std::fabs(area) < 1e-6f) continue;
        const int minX = std::max(x0, static_cast<int>(std::floor(std::min({sx[0], sx[1], sx[2]}))));
        const int maxX = std::min(x0 + kViewWidth - 1, static_cast<int>(std::ceil(std::max({sx[0], sx[1], sx[2]}))));
        const int minY = std::max(y0, static_cast<int>(std::floor(std::min({sy[0], sy[1], sy[2]}))));
        const int maxY = std::min(y0 + kViewHeight - 1, static_cast<int>(std::ceil(std::max({sy[0], sy[1], sy[2]}))));
        for (int y = minY; y <= maxY; ++y) {
            for (int x = minX; x <= maxX; ++x) {
                const float px = x + 0.5f, py = y + 0.5f;
                const float w0 = ((sx[1] - px) * (sy[2] - py) - (sx[2] - px) * (sy[1] - py)) / area;
                const float w1 = ((sx[2] - px) * (sy[0] - py) - (sx[0] - px) * (sy[2] - py)) / area;
                const float w2 = 1.0f - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                const float z = w0 * sz[0] + w1 * sz[1] + w2 * sz[2];
                float& stored = canvas.depth[static_cast<std::size_t>(y) * canvas.width + x];
                if (!(z < stored)) continue;
                stored = z;
                // Paint blue-grey, turning red with the distance moved (full red at 0.25 m).
                const float moved = w0 * t.moved[0] + w1 * t.moved[1] + w2 * t.moved[2];
                const float heat = std::clamp(moved / 0.25f, 0.0f, 1.0f);
                const float r = (0.55f + 0.45f * heat) * lit;
                const float g = (0.62f - 0.45f * heat) * lit;
                const float b = (0.72f - 0.55f * heat) * lit;
                std::uint8_t* p = &canvas.rgb[(static_cast<std::size_t>(y) * canvas.width + x) * 3];
                p[0] = channel(r), p[1] = channel(g), p[2] = channel(b);
            }
        }
    }
}

}  // namespace

bool writeBeforeAfterPicture(const std::string& path, const PictureScene& before, const PictureScene& after) {
    // One scale and centre for all four views, from the scene before the hits.
    Vec lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
    for (const PictureScene* scene : {&before, &after})
        for (const PictureTriangle& t : *scene)
            for (const Vec& c : t.corner) {
                if (!dent::isFinite(c)) continue;
                lo = {std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z)};
                hi = {std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z)};
            }
    if (lo.x > hi.x) return false;
    const Vec centre = (lo + hi) * 0.5f;
    const float extent = std::max(dent::length(hi - lo), 0.1f);
    const float scale = 0.9f * std::min(kViewWidth, kViewHeight) / extent * 1.3f;

    const View views[2] = {makeView({0.8f, -1.0f, -0.55f}, centre, scale),   // from front left
                           makeView({-0.8f, 1.0f, -0.55f}, centre, scale)};  // from rear right
    Canvas canvas(kViewWidth * 2, kViewHeight * 2);
    for (int column = 0; column < 2; ++column) {
        drawScene(canvas, before, views[column], column * kViewWidth, 0);
        drawScene(canvas, after, views[column], column * kViewWidth, kViewHeight);
    }
    return stbi_write_png(path.c_str(), canvas.width, canvas.height, 3, canvas.rgb.data(), canvas.width * 3) != 0;
}

bool writeObj(const std::string& path, const std::vector<ObjMesh>& meshes) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) return false;
    std::fprintf(file, "# Kerbmark simulated host: vehicle meshes in the vehicle's model frame (metres)\n");
    unsigned base = 1;
    for (const ObjMesh& mesh : meshes) {
        std::fprintf(file, "o %s\n", mesh.name.c_str());
        for (const Vec& p : mesh.positions) std::fprintf(file, "v %.6f %.6f %.6f\n", p.x, p.y, p.z);
        for (std::size_t i = 0; i + 2 < mesh.indices.size(); i += 3)
            std::fprintf(file, "f %u %u %u\n", base + mesh.indices[i], base + mesh.indices[i + 1],
                         base + mesh.indices[i + 2]);
        base += static_cast<unsigned>(mesh.positions.size());
    }
    return std::fclose(file) == 0;
}

}  // namespace hostsim
