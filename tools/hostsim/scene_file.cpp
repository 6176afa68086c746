#include "scene_file.h"

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "file_names.h"

namespace hostsim {

static_assert(std::is_trivially_copyable_v<PictureTriangle>, "triangles are written as they lie in memory");

bool writeSceneFile(const std::string& path, const PictureScene& scene) {
    std::FILE* file = openFile(path, "wb");
    if (!file) return false;
    const std::uint32_t count = static_cast<std::uint32_t>(scene.size());
    bool written = std::fwrite(&count, sizeof count, 1, file) == 1 &&
                   std::fwrite(scene.data(), sizeof(PictureTriangle), count, file) == count;
    return std::fclose(file) == 0 && written;
}

bool readSceneFile(const std::string& path, PictureScene& scene) {
    std::FILE* file = openFile(path, "rb");
    if (!file) return false;
    std::uint32_t count = 0;
    bool read = std::fread(&count, sizeof count, 1, file) == 1;
    if (read) {
        scene.resize(count);
        read = std::fread(scene.data(), sizeof(PictureTriangle), count, file) == count;
    }
    std::fclose(file);
    return read;
}

}  // namespace hostsim
