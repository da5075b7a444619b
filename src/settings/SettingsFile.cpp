#include "settings/SettingsFile.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "settings/NumberScan.h"

namespace {

// What one read into a 256-byte line buffer takes: 255 bytes at most, through the first LF.
constexpr std::size_t LinePieceLimit = 255;
constexpr char CtrlZ = '\x1A';

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimTrailing(std::string_view text, std::string_view trimmed) {
    const std::size_t last = text.find_last_not_of(trimmed);
    return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool SettingsMap::KeyOrder::operator()(std::string_view a, std::string_view b) const noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Read big-endian, eight bytes compare as one unsigned number, in the same order.
        for (; i + 8 <= common; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y);
        }
    }
    for (; i < common; ++i) {
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    }
    return a.size() < b.size();
}

SettingsMap::SettingsMap(FileBytes fileBytes)
    : bytes(std::move(fileBytes)),
      // A node takes about twice the bytes of a short line.
      arena(std::make_unique<std::pmr::monotonic_buffer_resource>(bytes.size * 2 + 256)),
      entries(arena.get()) {
    const std::string_view all = bytes.view();
    const std::string_view text = all.substr(0, all.find(CtrlZ));

    // The pieces are cut as the translated stream would be, where a CR LF pair is one LF.
    // That CR only ever stands right before the LF that ends a line, and a value's
    // trailing CRs are removed anyway, so each piece is parsed in place from the raw bytes.
    std::size_t at = 0;
    std::size_t lf = text.find('\n');
    while (at < text.size()) {
        if (lf != std::string_view::npos && lf < at) lf = text.find('\n', at);  // once a line, not a piece
        std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        const bool crlf = lf != std::string_view::npos && lf > at && text[lf - 1] == '\r';
        if (end - at - (crlf ? 1 : 0) > LinePieceLimit) end = at + LinePieceLimit;
        const std::string_view piece = text.substr(at, end - at);
        parseLine(piece.substr(0, piece.find('\0')));  // a NUL ends the line's text
        at = end;
    }
}

void SettingsMap::parseLine(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start == line.size() || line[start] == '\n' || line[start] == '#' || line[start] == ';') return;
    const std::size_t equals = line.find('=', start);
    if (equals == std::string_view::npos) return;

    const std::string_view key = TrimTrailing(line.substr(start, equals - start), " \t");
    std::size_t valueStart = equals + 1;
    while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
    const std::string_view value = TrimTrailing(line.substr(valueStart), " \t\r\n");

    const auto at = entries.lower_bound(key);
    if (at != entries.end() && at->first == key) {
        at->second = value;
    } else {
        entries.emplace_hint(at, key, value);
    }
}

std::optional<std::string_view> SettingsMap::lookup(std::string_view key) const {
    const auto found = entries.find(key);
    if (found == entries.end()) return std::nullopt;
    return found->second;
}

SettingsMap ParseSettingsText(std::string_view fileBytes) {
    FileBytes copy{std::make_unique_for_overwrite<char[]>(fileBytes.size()), fileBytes.size()};
    std::copy(fileBytes.begin(), fileBytes.end(), copy.data.get());
    return SettingsMap(std::move(copy));
}

FileBytes ReadWholeFile(const char* path) {
    const std::unique_ptr<std::FILE, FileCloser> file{std::fopen(path, "rb")};
    if (!file) return {};
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // reads go straight into our buffer

    // One read takes a file of ordinary size whole; a larger one grows the buffer.
    std::size_t capacity = 8192;
    FileBytes bytes{std::make_unique_for_overwrite<char[]>(capacity)};
    for (;;) {
        bytes.size += std::fread(bytes.data.get() + bytes.size, 1, capacity - bytes.size, file.get());
        if (bytes.size < capacity) return bytes;
        auto larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
        std::copy_n(bytes.data.get(), bytes.size, larger.get());
        bytes.data = std::move(larger);
        capacity *= 2;
    }
}

SettingsMap ReadSettingsFile(const char* path) {
    return SettingsMap(ReadWholeFile(path));
}

float GetFloatSetting(const SettingsMap& settings, const char* key, float defaultValue) {
    const auto value = settings.lookup(key);
    return value ? static_cast<float>(ConvertFloatPrefix(*value)) : defaultValue;
}
