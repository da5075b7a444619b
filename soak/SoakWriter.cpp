// The other process of the soak: it changes the settings file while the host reads it.
//
//   SoakWriter cycle PATH STOP_EVENT REPORT
//       Until the named event is set, writes the versions of SettingsVersions.h in turn,
//       alternately in place (truncated, then written in one to three pieces) and by
//       replacement (a temporary file renamed over PATH). Then writes its counts to REPORT.
//   SoakWriter lock PATH READY_EVENT STOP_EVENT
//       Opens PATH sharing nothing, sets READY_EVENT, and holds the file until STOP_EVENT.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "basis/FileRead.h"
#include "soak/SettingsVersions.h"

namespace {

// Closes its handle when it ends.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

// A small generator of our own, so that the pieces differ from run to run of the loop.
std::uint32_t Next(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Truncates the file and writes `text` into it in up to three pieces, so that a reader
// may find any prefix of it.
bool WriteInPlace(const std::string& path, std::string_view text, std::uint32_t& random) {
    const Handle file{CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file.valid()) return false;
    std::size_t at = 0;
    const int pieces = 1 + static_cast<int>(Next(random) % 3);
    for (int piece = 1; piece < pieces && at < text.size(); ++piece) {
        const std::size_t size = Next(random) % (text.size() - at);
        if (!WriteAll(file.get(), text.substr(at, size))) return false;
        at += size;
    }
    return WriteAll(file.get(), text.substr(at));
}

// Writes `text` to a temporary file beside PATH and renames it over PATH. The rename is
// refused while a reader holds PATH open without delete sharing; it is tried again then.
enum class Replaced { Done, Refused, Failed };

Replaced WriteByReplacing(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".new";
    {
        const Handle file{CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (!file.valid() || !WriteAll(file.get(), text)) return Replaced::Failed;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return Replaced::Done;
        Sleep(0);
    }
    DeleteFileA(temporary.c_str());
    return Replaced::Refused;
}

HANDLE OpenNamedEvent(const char* name) { return OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name); }

int Cycle(const std::string& path, const char* stopName, const char* reportPath) {
    const Handle stop{OpenNamedEvent(stopName)};
    if (!stop.valid()) {
        std::fprintf(stderr, "writer: no event %s: error %lu\n", stopName, GetLastError());
        return 1;
    }
    const std::vector<std::string> versions = SoakSettings::Versions();
    std::uint32_t random = 0x9E3779B9u ^ GetCurrentProcessId();
    long inPlace = 0, replaced = 0, refused = 0, failed = 0;
    for (std::size_t round = 0; WaitForSingleObject(stop.get(), 0) == WAIT_TIMEOUT; ++round) {
        const std::string& text = versions[round % versions.size()];
        if ((round / versions.size()) % 2 == 0) {
            WriteInPlace(path, text, random) ? ++inPlace : ++failed;
        } else {
            switch (WriteByReplacing(path, text)) {
                case Replaced::Done: ++replaced; break;
                case Replaced::Refused: ++refused; break;
                case Replaced::Failed: ++failed; break;
            }
        }
    }
    std::FILE* report = std::fopen(reportPath, "w");
    if (!report) return 1;
    std::fprintf(report, "%ld %ld %ld %ld\n", inPlace, replaced, refused, failed);
    return std::fclose(report) == 0 ? 0 : 1;
}

int Lock(const std::string& path, const char* readyName, const char* stopName) {
    const Handle ready{OpenNamedEvent(readyName)};
    const Handle stop{OpenNamedEvent(stopName)};
    if (!ready.valid() || !stop.valid()) return 1;
    const Handle file{CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file.valid()) {
        std::fprintf(stderr, "writer: cannot lock %s: error %lu\n", path.c_str(), GetLastError());
        return 1;
    }
    SetEvent(ready.get());
    return WaitForSingleObject(stop.get(), 120000) == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "cycle" && argc == 5) return Cycle(argv[2], argv[3], argv[4]);
    if (command == "lock" && argc == 5) return Lock(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: %s cycle PATH STOP_EVENT REPORT | lock PATH READY_EVENT STOP_EVENT\n", argv[0]);
    return 2;
}
