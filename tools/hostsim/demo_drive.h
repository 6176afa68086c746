// The scripted demo drive: the player's car hits a wall head-on, scrapes
// along a barrier, is rear-ended by traffic, and F7 restores it.
#pragma once

#include <string>
#include <vector>

namespace hostsim {

// Paths are UTF-8 (file_names.h).
struct DemoOptions {
    std::string module;  // the built module, copied into the folder as Kerbmark.asi
    std::string ini;     // the settings, copied beside it as Kerbmark.ini
    std::string folder;  // where the copies, the log, pictures and meshes go
    std::string model;   // the player's car as an OBJ model; empty: the generated car
    // A preview of someone's settings or car: what the default drive does
    // (dents, the broken light) is reported, not required.
    bool preview = false;
};

// Lays out the host, runs the drive with the module loaded, prints the
// module's log and where the pictures (PNG) and meshes (OBJ) are. Returns 0
// when the car was dented, its rear light broke and F7 restored it as
// expected (in a preview: when F7 restored it and the host saw no misuse),
// 5 (with the reasons) when not, 2 when it could not run, 1 with one line
// naming the file when the model or the settings cannot be read.
int runDemo(const DemoOptions& options);

// One part of the drive, on its own from a standing start.
enum class Drive { Front, Side, Rear };

// Front, side and rear, in this order.
std::vector<Drive> everyDrive();
// "front", "side", "rear".
const char* driveName(Drive drive);
bool parseDrive(const std::string& name, Drive& drive);
// What happens in it: "head-on into a wall at 50 km/h", ...
const char* driveStory(Drive drive);

// Paths are UTF-8.
struct PreviewDriveOptions {
    std::string folder;  // holds Kerbmark.asi and the Kerbmark.ini beside it; the scenes go here
    std::string model;   // the player's car as an OBJ model; empty: the generated car
    Drive drive = Drive::Front;
};

// The scenes of the player's car a preview drive leaves in its folder: before
// the drive, and after it with its metal showing how far it moved.
constexpr const char* kBeforeScene = "before.scene";
constexpr const char* kAfterScene = "after.scene";

// Lays out the host, loads the module in the folder (which reads the settings
// beside it and logs to Kerbmark.log there), runs the one drive and writes the
// two scenes. 0 done, 1 with one line when the model cannot be used, 2 when it
// could not run, 4 when the host saw itself misused.
int runPreviewDrive(const PreviewDriveOptions& options);

}  // namespace hostsim
