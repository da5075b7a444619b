#include "src/settings/SettingsFile.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "src/settings/NumberScan.h"

namespace {

constexpr std::size_t PieceLimit = 255;  // what one read into a 256-byte line buffer takes
constexpr std::size_t ChunkSize = 4096;  // raw bytes held at a time, at least a piece and one more
constexpr char CtrlZ = '\x1A';

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Cuts the raw bytes of a source into pieces, holding one chunk of them at a time.
class PieceCutter {
public:
    explicit PieceCutter(const SettingsSource& bytes) : source(bytes) {}

    // The next piece's raw bytes, its LF (and a CR before it) included; false at the end.
    bool next(std::string_view& raw, PieceEnd& end) {
        // One byte beyond the limit is looked at: a CR LF pair there is one byte of the piece.
        if (last - first <= PieceLimit) refill();
        const std::string_view rest(chunk.data() + first, last - first);
        if (rest.empty()) return false;
        std::size_t size = std::min(rest.size(), PieceLimit);
        if (const std::size_t lf = rest.substr(0, size).find('\n'); lf != std::string_view::npos) {
            size = lf + 1;
        } else if (rest.substr(size - 1, 2) == "\r\n") {
            size += 1;
        }
        raw = rest.substr(0, size);
        if (raw.back() == '\n') {
            end = PieceEnd::LineFeed;
        } else {
            end = size < rest.size() ? PieceEnd::Limit : endedByCtrlZ ? PieceEnd::CtrlZ : PieceEnd::EndOfText;
        }
        first += size;
        return true;
    }

private:
    void refill() {
        std::copy(chunk.begin() + first, chunk.begin() + last, chunk.begin());
        last -= first;
        first = 0;
        while (!exhausted && last < chunk.size()) {
            const std::string_view got(chunk.data() + last, source(chunk.data() + last, chunk.size() - last));
            const std::size_t ctrlZ = got.find(CtrlZ);  // text mode ends the file there: no more reads
            endedByCtrlZ = ctrlZ != std::string_view::npos;
            exhausted = got.empty() || endedByCtrlZ;
            last += endedByCtrlZ ? ctrlZ : got.size();
        }
    }

    const SettingsSource& source;
    std::array<char, ChunkSize> chunk;
    std::size_t first = 0;  // [first, last) is not cut yet
    std::size_t last = 0;
    bool exhausted = false;  // the source has no more, or a Ctrl-Z ended the text
    bool endedByCtrlZ = false;
};

// What a piece's text (its bytes before the LF or a NUL) holds; an entry's key and value.
PieceKind Parse(std::string_view text, std::string_view& key, std::string_view& value) {
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    if (start == text.size()) return PieceKind::Blank;
    if (text[start] == '#' || text[start] == ';') return PieceKind::Comment;
    const std::size_t equals = text.find('=', start);
    if (equals == std::string_view::npos) return PieceKind::NoEquals;
    std::size_t keyEnd = equals;
    while (keyEnd > start && IsBlank(text[keyEnd - 1])) --keyEnd;
    std::size_t valueStart = equals + 1;
    while (valueStart < text.size() && IsBlank(text[valueStart])) ++valueStart;
    std::size_t valueEnd = text.size();
    while (valueEnd > valueStart && (IsBlank(text[valueEnd - 1]) || text[valueEnd - 1] == '\r')) --valueEnd;
    key = text.substr(start, keyEnd - start);
    value = text.substr(valueStart, valueEnd - valueStart);
    return PieceKind::Entry;
}

SettingsMap EntriesOf(const SettingsSource& source) {
    SettingsMap settings;
    ReadSettingsPieces(source, [&settings](const SettingsPiece& piece) {
        if (piece.kind == PieceKind::Entry) settings.store(piece.key, piece.value);
    });
    return settings;
}

}  // namespace

void ReadSettingsPieces(const SettingsSource& source,
                        const std::function<void(const SettingsPiece&)>& onPiece) {
    PieceCutter cutter(source);
    std::string_view raw;
    SettingsPiece piece{1, PieceKind::Blank, PieceEnd::EndOfText, {}, {}, {}};
    while (cutter.next(raw, piece.end)) {
        const bool lineEnds = piece.end == PieceEnd::LineFeed;
        std::string_view text = raw;
        if (lineEnds) text.remove_suffix(raw.ends_with("\r\n") ? 2 : 1);  // CR LF reads as LF
        if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
            text = text.substr(0, nul);
            piece.end = PieceEnd::Nul;
        }
        piece.text = text;
        piece.key = piece.value = {};
        piece.kind = Parse(text, piece.key, piece.value);
        onPiece(piece);
        piece.line += lineEnds ? 1 : 0;
    }
}

SettingsMap::SettingsMap()
    : arena(std::make_unique<std::pmr::monotonic_buffer_resource>(4096)), entries(arena.get()) {}

void SettingsMap::store(std::string_view key, std::string_view value) {
    const auto at = entries.lower_bound(key);
    if (at == entries.end() || at->first != key) {
        entries.emplace_hint(at, key, value);
    } else {
        // In place when it fits; a longer value takes at least twice the old room, so
        // repeats of one key take a bounded amount of the arena.
        at->second.assign(value);
    }
}

std::optional<std::string_view> SettingsMap::lookup(std::string_view key) const {
    const auto at = entries.find(key);
    return at == entries.end() ? std::nullopt : std::optional<std::string_view>(at->second);
}

SettingsMap ParseSettingsText(std::string_view fileBytes) {
    return EntriesOf([&fileBytes](char* buffer, std::size_t capacity) {
        const std::size_t size = fileBytes.copy(buffer, capacity);
        fileBytes.remove_prefix(size);
        return size;
    });
}

SettingsMap ReadSettingsFile(const char* path) {
    const auto close = [](std::FILE* file) { std::fclose(file); };
    const std::unique_ptr<std::FILE, decltype(close)> file{std::fopen(path, "rb"), close};
    if (!file) return {};
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // reads go straight into the chunk
    return EntriesOf([&file](char* buffer, std::size_t capacity) {
        return std::fread(buffer, 1, capacity, file.get());  // 0 at the end or on an error
    });
}

float GetFloatSetting(const SettingsMap& settings, const char* key, float defaultValue) {
    const auto value = settings.lookup(key);
    return value ? static_cast<float>(ConvertFloatPrefix(*value)) : defaultValue;
}
