// Stands in for the host executable: wherever it is copied, it locates the settings file
// as the plug-in would and writes the chosen path (possibly empty) to the file named by
// its argument.
#include <cstdio>

#include "src/settings/LocateSettingsFile.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    char settingsPath[SettingsPathSize] = {};
    LocateSettingsFile(settingsPath);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 3;
    std::fputs(settingsPath, out);
    return std::fclose(out) == 0 ? 0 : 4;
}
