#include "src/settings/LocateSettingsFile.h"

#include <io.h>
#include <windows.h>

#include <string_view>

namespace {

// folder + subfolder + "\\" + file name into `path` when it fits, NUL included.
bool Compose(char (&path)[SettingsPathSize], std::string_view folder, std::string_view subfolder) {
    const std::size_t separator = subfolder.empty() ? 0 : 1;
    if (folder.size() + subfolder.size() + separator + SettingsFileName.size() >= SettingsPathSize) return false;
    char* end = folder.copy(path, folder.size()) + path;
    end += subfolder.copy(end, subfolder.size());
    if (separator) *end++ = '\\';
    end += SettingsFileName.copy(end, SettingsFileName.size());
    *end = '\0';
    return true;
}

}  // namespace

void LocateSettingsFile(char (&settingsPath)[SettingsPathSize]) {
    settingsPath[0] = '\0';
    char executable[SettingsPathSize];
    const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), executable, SettingsPathSize);
    // No path, or one cut short: nothing that fits can be formed from it.
    if (length == 0 || length >= SettingsPathSize) return;

    std::string_view folder(executable, length);
    if (const std::size_t slash = folder.rfind('\\'); slash != std::string_view::npos) folder = folder.substr(0, slash + 1);

    for (const std::string_view subfolder : SettingsFolders) {
        if (Compose(settingsPath, folder, subfolder) && _access(settingsPath, 0) == 0) return;
    }
    // No file yet: the executable's own folder. That path is the shortest of the three, so
    // when it does not fit, none does.
    if (!Compose(settingsPath, folder, "")) settingsPath[0] = '\0';
}
