// A folder of its own for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return root; }

    // Writes `bytes` exactly as given (no line-end translation) to a file below the
    // folder, creating the folders on the way; returns its full path.
    std::filesystem::path write(const std::filesystem::path& relative, std::string_view bytes) const;

private:
    std::filesystem::path root;
};
