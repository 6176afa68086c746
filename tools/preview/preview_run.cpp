#include "preview_run.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "car_model.h"
#include "files.h"
#include "host_image.h"
#include "host_world.h"
#include "obj_car.h"
#include "picture.h"
#include "scene_file.h"
#include "settings_report.h"

namespace preview {

namespace {

// Each run's own: "<prefix><process>-<n>".
constexpr const char* kWorkPrefix = ".kerbmark-preview-work-";

int refuse(const std::string& file, const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "KerbmarkPreview: %s: %s\n", file.c_str(), why.c_str());
    return 1;
}

int cannotRun(const std::string& what) {
    std::fflush(stdout);
    std::fprintf(stderr, "KerbmarkPreview: %s\n", what.c_str());
    return 2;
}

struct SettingsFile {
    std::string path;   // full; empty: no file, the module's defaults
    std::string label;  // the file name
    std::vector<SettingValue> values;
};

bool readSettingsFile(const std::string& given, SettingsFile& file, std::string& why) {
    file.path = fullPath(given);
    file.label = fileName(file.path);
    if (!canRead(file.path, why)) return false;
    const std::string narrow = ansiName(file.path);
    if (narrow.empty()) {
        why = "the module's settings code cannot open a file of this name (letters outside this system's code page)";
        return false;
    }
    file.values = settingsOf(narrow);
    const bool any = std::any_of(file.values.begin(), file.values.end(),
                                 [](const SettingValue& v) { return v.fate != SettingValue::Fate::Missing; });
    if (!any) why = "holds none of Kerbmark's settings (is it a Kerbmark.ini?)";
    return any;
}

// The output folder, and this run's own folder inside it where the module
// runs and the pictures are drawn. Unless finished, everything made is removed again.
class OutputFolder {
public:
    ~OutputFolder() {
        if (!work_.empty()) removeTree(work_);
        if (!finished_)
            for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder)
                RemoveDirectoryW(wide(*folder).c_str());  // only when empty
    }
    bool open(const std::string& path) {
        path_ = path;
        if (!makeFolders(path_, made_)) return false;
        // A new folder, never one that is there already: another preview's, or a link.
        const std::string stem = join(path_, kWorkPrefix + std::to_string(GetCurrentProcessId()) + "-");
        for (unsigned n = 0; n < 1000; ++n) {
            const std::string work = stem + std::to_string(n);
            if (CreateDirectoryW(wide(work).c_str(), nullptr)) {
                work_ = work;
                return true;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        }
        return false;
    }
    const std::string& path() const { return path_; }
    const std::string& work() const { return work_; }
    void finish() { finished_ = true; }

private:
    std::string path_, work_;
    std::vector<std::string> made_;
    bool finished_ = false;
};

std::string quoted(const std::string& argument) { return "\"" + argument + "\""; }

// This program again, for one drive in `folder`; its exit code, or -1 when it did not start.
// The names go whole through the wide command line.
int runDriveProcess(const std::string& folder, const std::string& model, hostsim::Drive drive) {
    std::string line = quoted(programPath()) + " " + kRunDriveOption + " " + hostsim::driveName(drive) + " " +
                       quoted(folder);
    if (!model.empty()) line += " " + quoted(model);
    std::wstring command = wide(line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    const DWORD standard[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE* handles[3] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    for (int i = 0; i < 3; ++i) {
        *handles[i] = GetStdHandle(standard[i]);
        SetHandleInformation(*handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(wide(programPath()).c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// The values the module does not take as written, one line each.
std::vector<std::string> notUsedAsWritten(const SettingsFile& file) {
    std::vector<std::string> lines;
    for (const SettingValue& value : file.values)
        if (value.fate != SettingValue::Fate::Missing && value.fate != SettingValue::Fate::AsWritten)
            lines.push_back(keyName(value) + ": in the file " + value.text + ", used " + usedText(value) + " (" +
                            fateText(value.fate) + ")");
    return lines;
}

// Those lines under `title` at the foot of a picture, when there are any.
void footNotUsed(const std::string& title, const SettingsFile& file, std::vector<std::string>& footer) {
    const std::vector<std::string> lines = notUsedAsWritten(file);
    if (!lines.empty()) footer.push_back(title);
    for (const std::string& line : lines) footer.push_back("  " + line);
}

// A title line, then one line per key whose value differs between the files.
std::vector<std::string> differences(const SettingsFile& left, const SettingsFile& right) {
    const auto differing = differingKeys(left.values, right.values);
    if (differing.empty()) return {"The two files give the module the same values."};
    std::vector<std::string> lines{"Keys whose values differ (" + left.label + " / " + right.label + "):"};
    for (const auto& [a, b] : differing) lines.push_back("  " + keyName(a) + ": " + usedText(a) + " / " + usedText(b));
    return lines;
}

void printSettings(const SettingsFile& file) {
    if (file.path.empty()) {
        std::printf("Settings: none given and no Kerbmark.ini beside the program: the module's defaults.\n");
        return;
    }
    std::printf("Settings: %s\n", file.path.c_str());
    const std::vector<std::string> lines = notUsedAsWritten(file);
    std::printf(lines.empty() ? "  The module uses every value in it as written.\n"
                              : "  The module does not use these values as written:\n");
    for (const std::string& line : lines) std::printf("    %s\n", line.c_str());
}

float mostMoved(const hostsim::PictureScene& scene) {
    float most = 0.0f;
    for (const hostsim::PictureTriangle& t : scene)
        for (float moved : t.moved) most = std::max(most, moved);
    return most;
}

struct DriveResult {
    hostsim::PictureScene before, after;
};

// One settings file, one drive: the module's log printed under the file's name.
bool runDrive(const OutputFolder& output, const std::string& module, const SettingsFile& settings, std::size_t index,
              const std::string& model, hostsim::Drive drive, DriveResult& result) {
    const std::string folder = join(output.work(), std::to_string(index) + "-" + hostsim::driveName(drive));
    std::vector<std::string> made;
    if (!makeFolders(folder, made) || !copyFile(module, join(folder, "Kerbmark.asi")) ||
        (!settings.path.empty() && !copyFile(settings.path, join(folder, "Kerbmark.ini"))))
        return cannotRun("cannot prepare " + folder) == 0;
    std::printf("\n%s, drive %s (%s):\n", settings.label.c_str(), hostsim::driveName(drive),
                hostsim::driveStory(drive));
    const int code = runDriveProcess(folder, model, drive);
    if (code != 0) return cannotRun("the drive with " + settings.label + " ended with " + std::to_string(code)) == 0;
    std::printf("  The module's log:\n");
    for (const std::string& line : readLines(join(folder, "Kerbmark.log"))) std::printf("    %s\n", line.c_str());
    if (!hostsim::readSceneFile(join(folder, hostsim::kBeforeScene), result.before) ||
        !hostsim::readSceneFile(join(folder, hostsim::kAfterScene), result.after))
        return cannotRun("the drive with " + settings.label + " left no car to draw") == 0;
    std::printf("  Metal moved at most %.1f cm.\n", mostMoved(result.after) * 100.0f);
    return true;
}

// The picture of one drive with one or two settings files, drawn at `staged`;
// the name it is to have in the output folder.
bool drawDrive(const std::string& staged, const std::vector<SettingsFile>& settings,
               const std::vector<DriveResult>& results, const std::string& car, const std::string& carStem,
               hostsim::Drive drive, std::string& name) {
    hostsim::PictureText text;
    text.heading.push_back("Kerbmark " KERBMARK_VERSION " preview - car: " + car);
    text.heading.push_back(std::string("drive: ") + hostsim::driveName(drive) + " (" + hostsim::driveStory(drive) +
                           ")");
    name = carStem + "-" + hostsim::driveName(drive) + "-" + stem(settings[0].label);
    if (settings.size() == 1) {
        text.heading.push_back("settings: " + settings[0].label);
        footNotUsed("Not used as written:", settings[0], text.footer);
        name += ".png";
        return hostsim::writeBeforeAfterPicture(staged, results[0].before, results[0].after, "after", text);
    }
    text.heading.push_back("left: " + settings[0].label + "    right: " + settings[1].label);
    text.footer = differences(settings[0], settings[1]);
    for (const SettingsFile& file : settings) footNotUsed(file.label + ", not used as written:", file, text.footer);
    name += "-vs-" + stem(settings[1].label) + ".png";
    const hostsim::PictureScene after[2] = {results[0].after, results[1].after};
    const std::string titles[2] = {settings[0].label, settings[1].label};
    return hostsim::writeComparisonPicture(staged, results[0].before, after, titles, text);
}

// The default output folder: "preview" beside the model, else beside the settings, else beside the program.
std::string defaultOutput(const Request& request) {
    const std::string& beside = !request.model.empty() ? request.model : request.ini;
    return join(folderOf(fullPath(beside.empty() ? programPath() : beside)), "preview");
}

}  // namespace

int runPreview(const Request& request) {
    const std::string program = programPath();
    const std::string module = join(folderOf(program), "Kerbmark.asi");
    if (!isFile(module)) return cannotRun(module + " is missing: the preview runs the module beside it");

    // Every file is checked before anything is written.
    std::vector<SettingsFile> settings(1);
    std::string why;
    const std::string besideProgram = join(folderOf(program), "Kerbmark.ini");
    if (!request.ini.empty() || isFile(besideProgram)) {
        const std::string& ini = request.ini.empty() ? besideProgram : request.ini;
        if (!readSettingsFile(ini, settings[0], why)) return refuse(settings[0].path, why);
    } else {
        settings[0].label = "defaults";
    }
    if (!request.compare.empty()) {
        settings.emplace_back();
        if (!readSettingsFile(request.compare, settings[1], why)) return refuse(settings[1].path, why);
    }
    std::string model, car = "the built-in car", carStem = "car";
    if (!request.model.empty()) {
        model = fullPath(request.model);
        car = fileName(model);
        carStem = stem(model);
        if (!canRead(model, why)) return refuse(model, why);
        if (!hostsim::startHost()) return cannotRun("cannot lay out the stand-in for the game");
        hostsim::ObjCar objCar;
        if (!hostsim::loadObjCar(model, hostsim::paintOf(hostsim::VehicleSpec{}.modelId), objCar, why))
            return refuse(model, why.substr(std::min(why.size(), model.size() + 2)));
        std::printf("The car from %s:\n", model.c_str());
        for (const std::string& note : objCar.notes) std::printf("  %s\n", note.c_str());
    }
    for (const SettingsFile& file : settings) printSettings(file);
    if (settings.size() == 2)
        for (const std::string& line : differences(settings[0], settings[1])) std::printf("%s\n", line.c_str());

    OutputFolder output;
    const std::string out = fullPath(request.out.empty() ? defaultOutput(request) : request.out);
    if (!output.open(out)) return cannotRun("cannot make the folder " + out);
    if (ansiName(output.work()).empty())
        return cannotRun("the module cannot run in " + out +
                         ": it names its files in this system's code page, which lacks letters of that name"
                         " (give --out a folder named otherwise)");

    std::vector<std::string> names;
    for (hostsim::Drive drive : request.drives) {
        std::vector<DriveResult> results(settings.size());
        for (std::size_t i = 0; i < settings.size(); ++i)
            if (!runDrive(output, module, settings[i], i, model, drive, results[i])) return 2;
        std::string name;
        const std::string staged = join(output.work(), std::to_string(names.size()) + ".png");
        if (!drawDrive(staged, settings, results, car, carStem, drive, name))
            return cannotRun("cannot write the picture " + name);
        names.push_back(name);
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!moveFile(join(output.work(), std::to_string(i) + ".png"), join(out, names[i])))
            return cannotRun("cannot move the picture " + names[i] + " into " + out);
    output.finish();

    std::printf("\nPictures (moved metal turns red; the grey outline is where it was before):\n");
    for (const std::string& name : names) std::printf("  %s\n", join(out, name).c_str());
    return 0;
}

int runOneDrive(const std::vector<std::string>& arguments) {
    hostsim::PreviewDriveOptions options;
    if (arguments.size() < 3 || !hostsim::parseDrive(arguments[1], options.drive)) return 2;
    options.folder = arguments[2];
    if (arguments.size() > 3) options.model = arguments[3];
    return hostsim::runPreviewDrive(options);
}

}  // namespace preview
