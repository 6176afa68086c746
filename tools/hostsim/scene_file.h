// A picture scene kept in a file between two processes of the same program:
// the preview drives each car in a process of its own and draws them together.
#pragma once

#include <string>

#include "picture.h"

namespace hostsim {

// The triangles as they lie in memory, after their count; false on failure.
// Paths are UTF-8 (file_names.h).
bool writeSceneFile(const std::string& path, const PictureScene& scene);
bool readSceneFile(const std::string& path, PictureScene& scene);

}  // namespace hostsim
