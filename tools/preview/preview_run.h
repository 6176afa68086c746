// The preview: each settings file and drive in a process of its own (the
// module reads its settings once, when it is loaded), then the pictures.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

namespace preview {

// What a preview run prints and writes; 0 done, 1 with one line naming a file
// that cannot be used, 2 when it cannot run. Nothing is left in the output
// folder but finished pictures.
int runPreview(const Request& request);

// The hidden second half: one drive in the folder the preview prepared.
// Arguments (UTF-8, without the program): --run-drive <drive> <folder> [<model>].
int runOneDrive(const std::vector<std::string>& arguments);
constexpr const char* kRunDriveOption = "--run-drive";

}  // namespace preview
