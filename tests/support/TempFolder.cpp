#include "tests/support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root = std::filesystem::temp_directory_path() /
           ("glimmerward-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::filesystem::path TempFolder::write(const std::filesystem::path& relative, std::string_view bytes) const {
    const std::filesystem::path file = root / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file;
}
