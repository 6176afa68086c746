#include "host/settings_reload.h"

#include <cstdio>
#include <utility>

#include "foundation/ini_buffer.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/settings_file.h"
#include "host/keyboard.h"
#include "host/startup.h"

namespace kerbmark {

bool moduleEnabled = true;

namespace {

bool reloadKeyWasDown = false;
bool reloadWaiting = false;
// The value of every key as the last reading took it.
std::vector<TakenValue> currentValues;

void refuse(const char* why) {
    logFormatted<200>("Reload: %s %s; the old settings stay.", fileNameOf(iniPath), why);
}

// The file's bytes when they can be taken as the whole file, else the one line that says why not.
bool readWholeFile(std::string& bytes) {
    SettingsFileBytes file = readSettingsFile(iniPath, true);
    switch (file.state) {
        case SettingsFileBytes::State::Read:
            bytes = std::move(file.bytes);
            return true;
        case SettingsFileBytes::State::Missing:
            refuse("not found");
            return false;
        case SettingsFileBytes::State::InUse:
            refuse("is open for writing in another program");
            return false;
        case SettingsFileBytes::State::Unreadable:
            break;
    }
    char why[48];
    std::snprintf(why, sizeof why, "cannot be read (error %lu)", file.error);
    refuse(why);
    return false;
}

bool wholeText(const IniBuffer& ini) {
    if (!ini.hasContent()) {
        refuse("is empty");
        return false;
    }
    if (!ini.endsAtLineEnd()) {
        refuse("ends inside a line (half saved?)");
        return false;
    }
    return true;
}

void logChanges(const std::vector<TakenValue>& read, bool enabled) {
    const std::vector<ChangedValue> changed = changedValues(currentValues, read);
    for (const ChangedValue& change : changed)
        logFormatted<200>("Reload: [%s] %s %s -> %s", change.after->section.c_str(), change.after->key.c_str(),
                          change.before ? change.before->value.c_str() : "-", change.after->value.c_str());
    const unsigned count = static_cast<unsigned>(changed.size());
    logFormatted<200>("Reload: %s read, %u key%s changed; every vehicle restored%s", fileNameOf(iniPath), count,
                      count == 1 ? "" : "s",
                      enabled ? "." : "; Enabled=0: idle until Enabled=1 and the reload key.");
    takeValues(currentValues, read);
}

// Reads the file as start-up does into copies, restores every vehicle, then
// puts the copies in place: a reading never reaches the module half done.
void reloadSettings() {
    std::string bytes;
    if (!readWholeFile(bytes)) return;
    IniBuffer ini(bytes);
    if (!wholeText(ini)) return;

    NotingSource noted(ini);
    Settings next = settings;
    bool nextDiagnostics = diagnostics;
    readGeneralKeys(noted, next, nextDiagnostics);
    const bool enabled = readEnabled(noted);
    // Switched off, the module reads no more, as at start-up; the rest is read when it is switched on again.
    if (enabled) readRemainingKeys(noted, next);

    restoreEveryVehicle();
    settings = next;
    diagnostics = nextDiagnostics;
    moduleEnabled = enabled;
    logChanges(noted.values, enabled);
}

}  // namespace

void rememberStartupValues(std::vector<TakenValue> values) { currentValues = std::move(values); }

void watchReloadKey(FrameKeyboard& keys) {
    const bool down = keys.down(settings.ReloadKey);
    if (down && !reloadKeyWasDown) reloadWaiting = true;
    reloadKeyWasDown = down;
}

void runWaitingReload() {
    if (!reloadWaiting) return;
    reloadWaiting = false;
    reloadSettings();
}

}  // namespace kerbmark
