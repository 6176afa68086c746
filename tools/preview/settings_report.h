// What the module makes of a settings file, found by running the module's own
// reading code (foundation/settings) over it and noting every value it takes.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace preview {

struct SettingValue {
    enum class Fate {
        Missing,    // not in the file: the module takes the key's default
        AsWritten,  // the module uses the file's value
        Clamped,    // a number outside the key's range: the nearer bound
        Default,    // not a number: the default
        ReadAs,     // not a whole number where one is wanted: what the reader made of it
        NotInPreview,  // a key the module uses in the game only (the reload key)
    };
    std::string section, key;
    std::string text;      // as written in the file
    double used = 0;       // the value the module uses (bools 0 or 1)
    std::string usedName;  // the same for a key whose value is a name
    Fate fate = Fate::Missing;
};

// Every key the module reads, in its order. `path`: a name the narrow file
// functions open (files.h ansiName).
std::vector<SettingValue> settingsOf(const std::string& path);

// "[Section] Key".
std::string keyName(const SettingValue& value);
// The used value as the file would write it ("0.65", "180", "Shift+F7").
std::string usedText(const SettingValue& value);
// Why the module does not use the file's value: "out of range, clamped", ...
const char* fateText(SettingValue::Fate fate);

// The keys whose used values differ between two files: pairs of the same key.
std::vector<std::pair<SettingValue, SettingValue>> differingKeys(const std::vector<SettingValue>& a,
                                                                 const std::vector<SettingValue>& b);

}  // namespace preview
