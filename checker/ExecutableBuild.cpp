#include "checker/ExecutableBuild.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>

namespace {

constexpr std::uint16_t OptionalMagic32 = 0x10B;
constexpr std::size_t SectionHeaderSize = 40;

class FileBytes {
public:
    explicit FileBytes(const std::string& path) : in(path, std::ios::binary) {}
    bool open() const { return static_cast<bool>(in); }

    template <class T>
    std::optional<T> at(std::uint64_t offset) {
        std::array<unsigned char, sizeof(T)> bytes{};
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) return std::nullopt;
        T value = 0;
        for (std::size_t i = bytes.size(); i-- > 0;) value = static_cast<T>((value << 8) | bytes[i]);  // little-endian
        return value;
    }

private:
    std::ifstream in;
};

}  // namespace

ExecutableBuild ProbeExecutable(const std::string& path) {
    FileBytes file(path);
    if (!file.open()) return {false, Host::UnknownVersion, "it cannot be opened"};
    if (file.at<std::uint16_t>(0) != 0x5A4D) return {false, Host::UnknownVersion, "it is no Windows executable"};
    const auto pe = file.at<std::uint32_t>(0x3C);
    if (!pe || file.at<std::uint32_t>(*pe) != 0x00004550) return {false, Host::UnknownVersion, "it is no Windows executable"};
    const std::uint64_t header = *pe + 4;
    const auto sections = file.at<std::uint16_t>(header + 2);
    const auto optionalSize = file.at<std::uint16_t>(header + 16);
    const auto magic = file.at<std::uint16_t>(header + 20);
    if (!sections || !optionalSize || !magic) return {false, Host::UnknownVersion, "its headers are cut short"};
    if (*magic != OptionalMagic32) return {false, Host::UnknownVersion, "it is no 32-bit executable"};
    const std::uint64_t table = header + 20 + *optionalSize;

    for (const Host::Build& build : Host::Builds) {
        const std::uint32_t rva = build.probe - Host::PreferredBase;  // the plug-in moves it by the image's base
        for (std::uint16_t i = 0; i < *sections; ++i) {
            const std::uint64_t entry = table + std::uint64_t{i} * SectionHeaderSize;
            const auto virtualSize = file.at<std::uint32_t>(entry + 8);
            const auto virtualAddress = file.at<std::uint32_t>(entry + 12);
            const auto rawSize = file.at<std::uint32_t>(entry + 16);
            const auto rawOffset = file.at<std::uint32_t>(entry + 20);
            if (!virtualSize || !virtualAddress || !rawSize || !rawOffset) {
                return {false, Host::UnknownVersion, "its section table is cut short"};
            }
            const std::uint64_t offset = std::uint64_t{rva} - *virtualAddress;
            if (rva < *virtualAddress || offset + 4 > std::max(*virtualSize, *rawSize)) continue;
            // Past the file's part of the section the loader gives zeros: no signature there.
            if (offset + 4 > *rawSize) break;
            if (file.at<std::uint32_t>(*rawOffset + offset) == Host::BuildSignature) return {true, build.version, {}};
            break;
        }
    }
    return {true, Host::UnknownVersion, {}};
}
