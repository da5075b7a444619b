#include "program/GameFolderReport.h"

#include <vector>

#include "checker/ExecutableBuild.h"
#include "program/GameFolder.h"
#include "src/settings/LocateSettingsFile.h"

bool DescribeBuilds(const std::string& folder, Report& report) {
    const auto executables = ExecutablesIn(folder);
    if (executables.empty()) {
        report.remarks.push_back({true, "there is no game here: " + folder + " holds no .exe file. Put " +
                                            "glimmerward-check.exe beside the game's executable and start it there"});
        return false;
    }
    std::vector<Remark> others;
    bool supported = false;
    for (const std::string& executable : executables) {
        const ExecutableBuild build = ProbeExecutable(executable);
        if (!build.readable) {
            others.push_back({false, executable + ": not the game (" + build.problem + ")"});
        } else if (build.version == Host::UnknownVersion) {
            others.push_back({false, executable + ": not a build of the game that the plug-in supports"});
        } else {
            supported = true;
            report.remarks.push_back({false, executable + ": build " + std::to_string(build.version) +
                                                 " of the game, which the plug-in supports"});
        }
    }
    if (!supported) {
        report.remarks.push_back({true, "no supported build of the game is in " + folder +
                                            ": loaded into any other program, the plug-in changes nothing. The "
                                            "plug-in supports builds 100, 110 and 120"});
        report.remarks.insert(report.remarks.end(), others.begin(), others.end());
    }
    return true;
}

void MakeFirstRunCopy(const std::string& folder, bool hasGame, Report& report) {
    if (!hasGame || !SearchSettingsFile(folder).found.empty()) return;
    const std::string release = FindReleaseSettingsFile(folder);
    if (release.empty()) return;
    const std::string target = JoinPath(ParentFolder(release), SettingsFileName);
    if (const std::string failed = CopyToNewFile(release, target); !failed.empty()) {
        report.remarks.push_back({true, "no Glimmerward.ini yet, and the checker could not make one: " + failed +
                                            ". If the game lies in a protected folder such as Program Files, "
                                            "start the checker as administrator, or copy " + release + " to " +
                                            target + " yourself"});
        return;
    }
    report.remarks.push_back({false, "no Glimmerward.ini yet: copied " + release + " to " + target +
                                         ", the file the plug-in reads; edit that one"});
}

std::string DescribeSearch(const std::string& folder, Report& report) {
    const SettingsSearch search = SearchSettingsFile(folder);
    if (search.tooLong) {
        report.remarks.push_back({true, "the path of " + folder + " is too long for the plug-in (259 characters at "
                                        "most): it reads no settings file there. Move the game to a shorter path"});
        return {};
    }
    if (search.found.empty()) {
        report.remarks.push_back({false, "the plug-in looks for Glimmerward.ini in plugins, then scripts, then the "
                                         "game folder itself, and finds none"});
    } else {
        report.remarks.push_back({false, "settings file used by the plug-in: " + search.chosen});
        for (std::size_t i = 1; i < search.found.size(); ++i) {
            report.remarks.push_back({true, search.found[i] + " is never read: " + search.chosen +
                                                " comes first and shadows it. Edit the first, or delete one"});
        }
    }
    for (const std::string& similar : NearSettingsFiles(folder)) {
        report.remarks.push_back({true, similar + " is probably a settings file saved under another name: the plug-in "
                                            "reads only a file named exactly " + std::string(SettingsFileName) +
                                            ". Rename it (turn on file name extensions in Explorer to see its whole name)"});
    }
    return search.chosen;
}
