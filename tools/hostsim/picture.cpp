#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

#include "file_names.h"

namespace hostsim {
namespace {

using dent::Vec;

constexpr int kViewWidth = 560;
constexpr int kViewHeight = 400;
constexpr int kHeader = 34;        // titles above each row
constexpr int kLegend = 56;        // the colour scale below
constexpr float kFullRed = 0.25f;  // metres moved at which metal is fully red

const std::uint8_t kBackground[3] = {236, 238, 242};
const std::uint8_t kGhost[3] = {204, 208, 216};
const std::uint8_t kInk[3] = {40, 44, 52};

Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Orthographic camera looking along `forward`.
struct View {
    Vec right, up, forward;
    Vec centre;
    float scale;  // pixels per metre
    const char* name;
};

// Looking along `lookDirection`, with z up in the picture.
View slantedView(Vec lookDirection, Vec centre, float scale, const char* name) {
    View v;
    v.forward = dent::normalized(lookDirection);
    v.right = dent::normalized(cross(v.forward, {0, 0, 1}));
    v.up = cross(v.right, v.forward);
    v.centre = centre;
    v.scale = scale;
    v.name = name;
    return v;
}

// Straight down, the front of the car up in the picture.
View topView(Vec centre, float scale) { return View{{1, 0, 0}, {0, 1, 0}, {0, 0, -1}, centre, scale, "from above"}; }

struct Canvas {
    int width, height;
    std::vector<std::uint8_t> rgb;
    std::vector<float> depth;

    Canvas(int w, int h)
        : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3), depth(static_cast<std::size_t>(w) * h) {
        fill(0, 0, w, h, kBackground);
    }

    void fill(int x0, int y0, int w, int h, const std::uint8_t colour[3]) {
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
                std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                p[0] = colour[0], p[1] = colour[1], p[2] = colour[2];
                depth[static_cast<std::size_t>(y) * width + x] = std::numeric_limits<float>::infinity();
            }
    }
};

std::uint8_t channel(float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); }

// The font draws printable ASCII: a character it lacks shows as one '?'
// (a UTF-8 sequence as one), and a line is cut at 127 characters.
void printable(const char* text, char (&line)[128]) {
    std::size_t n = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c && n + 1 < sizeof line; ++c) {
        if (*c >= 0x80 && *c < 0xC0) continue;  // the rest of a UTF-8 sequence
        line[n++] = (*c >= 32 && *c < 127) ? static_cast<char>(*c) : '?';
    }
    line[n] = '\0';
}

// Text from stb's bitmap font, `size` pixels per font unit.
void drawText(Canvas& canvas, int x, int y, const char* text, int size) {
    static char buffer[60000];
    char line[128];
    printable(text, line);
    const int quads = stb_easy_font_print(0, 0, line, nullptr, buffer, sizeof buffer);
    for (int q = 0; q < quads; ++q) {
        const float* first = reinterpret_cast<const float*>(buffer + q * 64);
        const float* opposite = reinterpret_cast<const float*>(buffer + q * 64 + 32);
        const int x0 = x + static_cast<int>(first[0] * size), y0 = y + static_cast<int>(first[1] * size);
        const int x1 = x + static_cast<int>(opposite[0] * size), y1 = y + static_cast<int>(opposite[1] * size);
        canvas.fill(std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0), std::abs(y1 - y0), kInk);
    }
}

int textWidth(const char* text, int size) {
    char line[128];
    printable(text, line);
    return stb_easy_font_width(line) * size;
}

// The colour of metal that moved `moved` metres, starting from `base`.
void metal(const float base[3], float moved, float lit, float out[3]) {
    const float heat = std::clamp(moved / kFullRed, 0.0f, 1.0f);
    const float red[3] = {0.95f, 0.12f, 0.08f};
    for (int c = 0; c < 3; ++c) out[c] = ((1.0f - heat) * base[c] + heat * red[c]) * lit;
}

struct Projected {
    float x[3], y[3], z[3];
};

Projected project(const PictureTriangle& t, const View& view, int x0, int y0) {
    Projected p;
    for (int k = 0; k < 3; ++k) {
        const Vec d = t.corner[k] - view.centre;
        p.x[k] = x0 + kViewWidth * 0.5f + dent::dot(d, view.right) * view.scale;
        p.y[k] = y0 + kViewHeight * 0.5f - dent::dot(d, view.up) * view.scale;
        p.z[k] = dent::dot(d, view.forward);
    }
    return p;
}

// Calls `pixel(x, y, w0, w1, w2)` for every pixel of the triangle inside the viewport.
template <typename Pixel>
void rasterize(const Projected& p, int x0, int y0, Pixel pixel) {
    const float area = (p.x[1] - p.x[0]) * (p.y[2] - p.y[0]) - (p.x[2] - p.x[0]) * (p.y[1] - p.y[0]);
    if (!(std::fabs(area) >= 1e-6f)) return;
    const int minX = std::max(x0, static_cast<int>(std::floor(std::min({p.x[0], p.x[1], p.x[2]}))));
    const int maxX = std::min(x0 + kViewWidth - 1, static_cast<int>(std::ceil(std::max({p.x[0], p.x[1], p.x[2]}))));
    const int minY = std::max(y0, static_cast<int>(std::floor(std::min({p.y[0], p.y[1], p.y[2]}))));
    const int maxY = std::min(y0 + kViewHeight - 1, static_cast<int>(std::ceil(std::max({p.y[0], p.y[1], p.y[2]}))));
    for (int y = minY; y <= maxY; ++y) {
        for (int x = minX; x <= maxX; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float w0 = ((p.x[1] - px) * (p.y[2] - py) - (p.x[2] - px) * (p.y[1] - py)) / area;
            const float w1 = ((p.x[2] - px) * (p.y[0] - py) - (p.x[0] - px) * (p.y[2] - py)) / area;
            const float w2 = 1.0f - w0 - w1;
            if (w0 < 0 || w1 < 0 || w2 < 0) continue;
            pixel(x, y, w0, w1, w2);
        }
    }
}

// Where the car was: a flat silhouette under the scene, so that metal that
// moved in leaves its old outline showing.
void drawGhost(Canvas& canvas, const PictureScene& scene, const View& view, int x0, int y0) {
    for (const PictureTriangle& t : scene)
        rasterize(project(t, view, x0, y0), x0, y0, [&](int x, int y, float, float, float) {
            std::uint8_t* p = &canvas.rgb[(static_cast<std::size_t>(y) * canvas.width + x) * 3];
            p[0] = kGhost[0], p[1] = kGhost[1], p[2] = kGhost[2];
        });
}

void drawScene(Canvas& canvas, const PictureScene& scene, const View& view, int x0, int y0) {
    // A light above and behind the viewer: every visible face is lit, and a
    // dent's slopes catch it differently from the flat metal around them.
    const Vec light = dent::normalized(-view.forward + view.up * 0.7f + view.right * 0.25f);
    for (const PictureTriangle& t : scene) {
        Vec n = dent::normalized(cross(t.corner[1] - t.corner[0], t.corner[2] - t.corner[0]));
        if (dent::dot(n, view.forward) > 0) n = -n;  // two-sided: face the camera
        const float lit = 0.2f + 0.8f * std::max(0.0f, dent::dot(n, light));
        float base[3] = {0.55f, 0.62f, 0.72f};
        if (t.colour != 0)
            for (int c = 0; c < 3; ++c) base[c] = static_cast<float>((t.colour >> (8 * c)) & 0xFF) / 255.0f;
        const Projected p = project(t, view, x0, y0);
        rasterize(p, x0, y0, [&](int x, int y, float w0, float w1, float w2) {
            const float z = w0 * p.z[0] + w1 * p.z[1] + w2 * p.z[2];
            float& stored = canvas.depth[static_cast<std::size_t>(y) * canvas.width + x];
            if (!(z < stored)) return;
            stored = z;
            float colour[3];
            metal(base, w0 * t.moved[0] + w1 * t.moved[1] + w2 * t.moved[2], lit, colour);
            std::uint8_t* out = &canvas.rgb[(static_cast<std::size_t>(y) * canvas.width + x) * 3];
            out[0] = channel(colour[0]), out[1] = channel(colour[1]), out[2] = channel(colour[2]);
        });
    }
}

// The colour scale, labelled in centimetres.
void drawLegend(Canvas& canvas, int y) {
    const int x = 24, barWidth = 300, barHeight = 14;
    const char* const title = "metal moved (cm):";
    drawText(canvas, x, y + 12, title, 2);
    const int barX = x + textWidth(title, 2) + 16;
    const float paint[3] = {0.55f, 0.62f, 0.72f};
    for (int i = 0; i < barWidth; ++i) {
        float colour[3];
        metal(paint, kFullRed * static_cast<float>(i) / (barWidth - 1), 1.0f, colour);
        const std::uint8_t rgb[3] = {channel(colour[0]), channel(colour[1]), channel(colour[2])};
        canvas.fill(barX + i, y + 12, 1, barHeight, rgb);
    }
    const int fullCm = static_cast<int>(kFullRed * 100.0f + 0.5f);
    for (int cm = 0; cm <= fullCm; cm += 5) {
        const int tickX = barX + (barWidth - 1) * cm / fullCm;
        canvas.fill(tickX, y + 12 + barHeight, 1, 5, kInk);
        char label[16];
        std::snprintf(label, sizeof label, cm == fullCm ? "%d+" : "%d", cm);
        drawText(canvas, tickX - textWidth(label, 2) / 2, y + 34, label, 2);
    }
    drawText(canvas, barX + barWidth + 48, y + 12, "grey outline: where the metal was before", 2);
}

constexpr int kLine = 24;  // a line of text at size 2
constexpr int kViews = 3;

// The views every picture shows, framed to hold all of `scenes` at one scale.
bool frameViews(std::initializer_list<const PictureScene*> scenes, View (&views)[kViews]) {
    Vec lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
    for (const PictureScene* scene : scenes)
        for (const PictureTriangle& t : *scene)
            for (const Vec& c : t.corner) {
                if (!dent::isFinite(c)) continue;
                lo = {std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z)};
                hi = {std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z)};
            }
    if (lo.x > hi.x) return false;
    const Vec centre = (lo + hi) * 0.5f;
    const float extent = std::max(dent::length(hi - lo), 0.1f);
    const float slanted = 1.25f * std::min(kViewWidth, kViewHeight) / extent;
    const float plan =
        0.9f * std::min(kViewWidth / std::max(hi.x - lo.x, 0.1f), kViewHeight / std::max(hi.y - lo.y, 0.1f));
    views[0] = slantedView({0.8f, -1.0f, -0.55f}, centre, slanted, "front left");
    views[1] = slantedView({-0.8f, 1.0f, -0.55f}, centre, slanted, "rear right");
    views[2] = topView(centre, plan);
    return true;
}

// One view of one scene in a picture's grid.
struct Cell {
    const PictureScene* scene;
    const PictureScene* ghost;  // drawn as the grey outline under the scene; null for none
    const View* view;
    std::string title;
};

// The heading, the cells row by row, the colour scale and the footer.
bool writeGrid(const std::string& path, const std::vector<Cell>& cells, int columns, const PictureText& text) {
    const int rows = static_cast<int>(cells.size()) / columns;
    const int rowHeight = kHeader + kViewHeight;
    const int headingHeight = text.heading.empty() ? 0 : 12 + kLine * static_cast<int>(text.heading.size());
    const int footerHeight = text.footer.empty() ? 0 : 8 + kLine * static_cast<int>(text.footer.size());
    Canvas canvas(kViewWidth * columns, headingHeight + rows * rowHeight + kLegend + footerHeight);
    for (std::size_t i = 0; i < text.heading.size(); ++i)
        drawText(canvas, 16, 12 + kLine * static_cast<int>(i), text.heading[i].c_str(), 2);
    for (int i = 0; i < rows * columns; ++i) {
        const Cell& cell = cells[i];
        const int x0 = (i % columns) * kViewWidth, top = headingHeight + (i / columns) * rowHeight;
        drawText(canvas, x0 + 16, top + 8, cell.title.c_str(), 2);
        if (cell.ghost) drawGhost(canvas, *cell.ghost, *cell.view, x0, top + kHeader);
        drawScene(canvas, *cell.scene, *cell.view, x0, top + kHeader);
    }
    const int legendY = headingHeight + rows * rowHeight;
    drawLegend(canvas, legendY);
    for (std::size_t i = 0; i < text.footer.size(); ++i)
        drawText(canvas, 16, legendY + kLegend + 8 + kLine * static_cast<int>(i), text.footer[i].c_str(), 2);
    std::FILE* file = openFile(path, "wb");
    if (!file) return false;
    const auto write = [](void* to, void* data, int size) {
        std::fwrite(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(to));
    };
    const bool encoded =
        stbi_write_png_to_func(write, file, canvas.width, canvas.height, 3, canvas.rgb.data(), canvas.width * 3) != 0;
    const bool failed = std::ferror(file) != 0;
    return std::fclose(file) == 0 && encoded && !failed;
}

}  // namespace

bool writeBeforeAfterPicture(const std::string& path, const PictureScene& before, const PictureScene& after,
                             const char* afterTitle, const PictureText& text) {
    View views[kViews];
    if (!frameViews({&before, &after}, views)) return false;
    std::vector<Cell> cells;
    for (int view = 0; view < kViews; ++view)
        cells.push_back({&before, nullptr, &views[view], std::string("before - ") + views[view].name});
    for (int view = 0; view < kViews; ++view)
        cells.push_back({&after, &before, &views[view], std::string(afterTitle) + " - " + views[view].name});
    return writeGrid(path, cells, kViews, text);
}

bool writeComparisonPicture(const std::string& path, const PictureScene& before, const PictureScene (&after)[2],
                            const std::string (&titles)[2], const PictureText& text) {
    View views[kViews];
    if (!frameViews({&before, &after[0], &after[1]}, views)) return false;
    std::vector<Cell> cells;
    for (int view = 0; view < kViews; ++view)
        for (int side = 0; side < 2; ++side)
            cells.push_back({&after[side], &before, &views[view], titles[side] + " - " + views[view].name});
    return writeGrid(path, cells, 2, text);
}

bool writeObj(const std::string& path, const std::vector<ObjMesh>& meshes) {
    std::FILE* file = openFile(path, "w");
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
