#include "settings_report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "foundation/ini_buffer.h"
#include "foundation/settings.h"
#include "foundation/settings_file.h"

namespace preview {

namespace {

// The module's own INI reader, noting what it was asked and what the module kept.
class ReportingSource final : public kerbmark::ProfileSource {
public:
    explicit ReportingSource(const std::string& path) : file_(kerbmark::readSettingsFile(path.c_str(), false).bytes) {}

    std::uint32_t readInt(const char* section, const char* key, int defaultValue) override {
        note(section, key, false, defaultValue);
        return file_.readInt(section, key, defaultValue);
    }
    void readString(const char* section, const char* key, char* buffer, std::size_t size) override {
        note(section, key, true, 0);
        file_.readString(section, key, buffer, size);
    }
    void took(const char* section, const char* key, double value) override {
        if (pending_.section != section || pending_.key != key) return;  // not read from the file
        SettingValue noted = pending_;
        noted.used = value;
        if (present_) noted.fate = fateOf(noted.text, value);
        values.push_back(noted);
        pending_ = {};
    }
    // The reload key: the preview's drives press no keys.
    void tookText(const char* section, const char* key, const char* value) override {
        if (pending_.section != section || pending_.key != key) return;
        SettingValue noted = pending_;
        noted.usedName = value;
        if (present_) noted.fate = SettingValue::Fate::NotInPreview;
        values.push_back(noted);
        pending_ = {};
    }

    std::vector<SettingValue> values;

private:
    void note(const char* section, const char* key, bool number, int defaultValue) {
        pending_ = SettingValue{section, key, "", 0, "", SettingValue::Fate::Missing};
        number_ = number;
        default_ = defaultValue;
        present_ = file_.find(section, key, pending_.text);
    }

    SettingValue::Fate fateOf(const std::string& text, double used) const {
        if (number_) {
            float value;
            if (!kerbmark::parseFloatValue(text.c_str(), value)) return SettingValue::Fate::Default;
            return static_cast<double>(value) == used ? SettingValue::Fate::AsWritten : SettingValue::Fate::Clamped;
        }
        char* end = nullptr;
        errno = 0;
        const long long whole = std::strtoll(text.c_str(), &end, 10);
        if (end != text.c_str() && *end == '\0' && errno == 0)
            return static_cast<double>(whole) == used ? SettingValue::Fate::AsWritten : SettingValue::Fate::Clamped;
        return used == default_ ? SettingValue::Fate::Default : SettingValue::Fate::ReadAs;
    }

    kerbmark::IniBuffer file_;
    SettingValue pending_;
    bool present_ = false;
    bool number_ = false;
    int default_ = 0;
};

}  // namespace

std::vector<SettingValue> settingsOf(const std::string& path) {
    ReportingSource source(path);
    kerbmark::Settings settings;
    bool diagnostics = false;
    kerbmark::readGeneralKeys(source, settings, diagnostics);
    kerbmark::readEnabled(source);
    kerbmark::readRemainingKeys(source, settings);
    return source.values;
}

std::string keyName(const SettingValue& value) { return "[" + value.section + "] " + value.key; }

std::string usedText(const SettingValue& value) {
    if (!value.usedName.empty()) return value.usedName;
    char text[32];
    std::snprintf(text, sizeof text, "%g", value.used);
    return text;
}

const char* fateText(SettingValue::Fate fate) {
    switch (fate) {
        case SettingValue::Fate::Missing:
            return "not in the file: the default";
        case SettingValue::Fate::AsWritten:
            return "as written";
        case SettingValue::Fate::Clamped:
            return "out of range: clamped";
        case SettingValue::Fate::Default:
            return "not a number: the default";
        case SettingValue::Fate::ReadAs:
            return "not a whole number: read as";
        case SettingValue::Fate::NotInPreview:
            return "the reload key: not used by the preview";
    }
    return "";
}

std::vector<std::pair<SettingValue, SettingValue>> differingKeys(const std::vector<SettingValue>& a,
                                                                 const std::vector<SettingValue>& b) {
    std::vector<std::pair<SettingValue, SettingValue>> differing;
    // Both lists come from the same reading code: the same keys in the same order.
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i].used != b[i].used || a[i].usedName != b[i].usedName) differing.emplace_back(a[i], b[i]);
    return differing;
}

}  // namespace preview
