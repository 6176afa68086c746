#include "command_line.h"

#include <cstdio>

#include "files.h"

namespace preview {

namespace {

bool takeDrive(const std::string& name, Request& request) {
    if (name == "all") {
        request.drives = hostsim::everyDrive();
        return true;
    }
    hostsim::Drive drive;
    if (!hostsim::parseDrive(name, drive)) return false;
    request.drives = {drive};
    return true;
}

bool takeBarePath(const std::string& path, Request& request, std::string& error) {
    const std::string kind = extension(path);
    if (kind == ".ini" && request.ini.empty()) {
        request.ini = path;
    } else if (kind == ".ini" && request.compare.empty()) {
        request.compare = path;
    } else if (kind == ".obj" && request.model.empty()) {
        request.model = path;
    } else {
        error = path + ": not an option, nor a settings file (.ini) or model (.obj) still wanted";
        return false;
    }
    return true;
}

}  // namespace

bool parseRequest(const std::vector<std::string>& arguments, Request& request, std::string& error) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h" || argument == "/?") {
            request.help = true;
            continue;
        }
        if (argument.compare(0, 2, "--") != 0) {
            if (!takeBarePath(argument, request, error)) return false;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            error = argument + " wants a value";
            return false;
        }
        const std::string& value = arguments[++i];
        if (argument == "--ini") {
            request.ini = value;
        } else if (argument == "--compare") {
            request.compare = value;
        } else if (argument == "--model") {
            request.model = value;
        } else if (argument == "--out") {
            request.out = value;
        } else if (argument == "--drive") {
            if (!takeDrive(value, request)) {
                error = "--drive " + value + ": the drives are front, rear, side and all";
                return false;
            }
        } else {
            error = argument + ": no such option";
            return false;
        }
    }
    return true;
}

void printHelp() {
    std::printf(
        "KerbmarkPreview %s: what Kerbmark does to a car with your settings, in pictures.\n"
        "It runs the Kerbmark.asi beside it in a small stand-in for the game; no game needed.\n"
        "\n"
        "usage: KerbmarkPreview.exe [--ini FILE] [--compare FILE] [--model FILE.obj]\n"
        "                           [--drive front|rear|side|all] [--out FOLDER]\n"
        "\n"
        "  --ini FILE        the settings to try (default: the Kerbmark.ini beside this program)\n"
        "  --compare FILE    other settings: the same car and drive run with both files, and\n"
        "                    one picture shows the two results side by side\n"
        "  --model FILE.obj  your car as an OBJ model, in metres, x right, y forward, z up;\n"
        "                    objects named like the game's parts (bonnet, boot, door_lf, ...)\n"
        "                    become those parts (default: a built-in car)\n"
        "  --drive WHICH     front: head-on into a wall at 50 km/h; side: the left side scrapes\n"
        "                    along a barrier; rear: rear-ended by traffic; all: one picture\n"
        "                    per drive (default: all)\n"
        "  --out FOLDER      where the pictures go (default: a folder \"preview\" beside the\n"
        "                    model, else beside the settings file, else beside this program);\n"
        "                    nothing is written anywhere else\n"
        "  --help            this text\n"
        "\n"
        "A file named without an option is taken by its extension: a .ini as --ini (a second\n"
        "one as --compare), a .obj as --model. So you can drop files onto KerbmarkPreview.exe.\n"
        "\n"
        "It prints the settings the module clamps or replaces by their default (the key, the\n"
        "value in the file, the value used), the module's log, and where the pictures are.\n"
        "Exit code 0 when done, 1 when a file cannot be used, 2 when the preview cannot run.\n"
        "\n"
        "Example:\n"
        "  KerbmarkPreview.exe --ini Kerbmark.ini --compare \"My settings.ini\" --model mycar.obj --drive front\n",
        KERBMARK_VERSION);
}

}  // namespace preview
