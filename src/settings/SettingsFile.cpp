#include "src/settings/SettingsFile.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "src/settings/NumberScan.h"
#include "src/settings/SettingsBytes.h"

namespace {

constexpr std::size_t ChunkSize = 4096;  // raw bytes held at a time, at least a piece and one more

// Cuts the raw bytes of a source into pieces, holding one chunk of them at a time.
class PieceCutter {
public:
    explicit PieceCutter(const SettingsSource& bytes) : source(bytes) {}

    // The next piece's text and how it ended; `lineEnds` when its line's LF ended it, though a
    // NUL may have cut its text short. False at the end of the text.
    bool next(std::string_view& text, PieceEnd& end, bool& lineEnds) {
        if (endedByCtrlZ) return false;
        // One byte beyond the limit is looked at: a CR LF pair there is one byte of the piece.
        if (last - first <= PieceLimit) refill();
        const char* const begin = chunk.data() + first;
        const char* const limit = begin + std::min(last - first, PieceLimit);
        // One pass: the text runs to the first LF, NUL or Ctrl-Z; past a NUL, the piece runs on.
        const char* stop = std::find_if(begin, limit, [](char c) { return c == '\n' || c == '\0' || c == CtrlZ; });
        text = std::string_view(begin, static_cast<std::size_t>(stop - begin));
        const bool nul = stop != limit && *stop == '\0';
        if (nul) stop = std::find_if(stop, limit, [](char c) { return c == '\n' || c == CtrlZ; });
        const bool more = limit != chunk.data() + last;  // the byte at the limit
        if (stop != limit ? *stop == '\n' : more && *limit == '\n' && limit[-1] == '\r') {
            end = PieceEnd::LineFeed;
            ++stop;
        } else if (stop != limit || (more && *limit == CtrlZ)) {
            end = PieceEnd::CtrlZ;  // text mode ends the text there
            endedByCtrlZ = true;
            if (stop == begin) return false;
        } else {
            end = more ? PieceEnd::Limit : PieceEnd::EndOfText;
        }
        lineEnds = end == PieceEnd::LineFeed;
        if (lineEnds && !nul && text.ends_with('\r')) text.remove_suffix(1);  // CR LF reads as LF
        if (nul) end = PieceEnd::Nul;
        first += static_cast<std::size_t>(stop - begin);
        return stop != begin;
    }

private:
    void refill() {
        std::copy(chunk.begin() + first, chunk.begin() + last, chunk.begin());
        last -= first;
        first = 0;
        while (!exhausted && last < chunk.size()) {
            const std::size_t got = source(chunk.data() + last, chunk.size() - last);
            exhausted = got == 0;
            last += got;
        }
    }

    const SettingsSource& source;
    std::array<char, ChunkSize> chunk;
    std::size_t first = 0;  // [first, last) is not cut yet
    std::size_t last = 0;
    bool exhausted = false;  // the source has no more
    bool endedByCtrlZ = false;
};

// What a piece's text (its bytes before the LF or a NUL) holds; an entry's key and value.
PieceKind Parse(std::string_view text, std::string_view& key, std::string_view& value) {
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    if (start == text.size()) return PieceKind::Blank;
    if (text[start] == '#' || text[start] == ';') return PieceKind::Comment;
    const std::size_t equals = static_cast<std::size_t>(std::find(text.begin() + start, text.end(), '=') - text.begin());
    if (equals == text.size()) return PieceKind::NoEquals;
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

// The map of the entries among the pieces that `readPieces` hands to its callback.
template <class ReadPieces>
SettingsMap EntriesOf(const ReadPieces& readPieces) {
    SettingsMap settings;
    readPieces([&settings](const SettingsPiece& piece) {
        if (piece.kind == PieceKind::Entry) settings.store(piece.key, piece.value);
    });
    return settings;
}

}  // namespace

void ReadSettingsPieces(const SettingsSource& source,
                        const std::function<void(const SettingsPiece&)>& onPiece) {
    PieceCutter cutter(source);
    SettingsPiece piece{1, 1, PieceKind::Blank, PieceEnd::EndOfText, {}, {}, {}};
    for (bool lineEnds = false; cutter.next(piece.text, piece.end, lineEnds);) {
        piece.key = piece.value = {};
        piece.kind = Parse(piece.text, piece.key, piece.value);
        onPiece(piece);
        if (lineEnds) {
            ++piece.line;
            piece.piece = 1;
        } else {
            ++piece.piece;
        }
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

SettingsSource TextSource(std::string_view text) {
    return [text](char* buffer, std::size_t capacity) mutable {
        const std::size_t size = text.copy(buffer, capacity);
        text.remove_prefix(size);
        return size;
    };
}

SettingsMap ParseSettingsText(std::string_view fileBytes) {
    return EntriesOf([fileBytes](const auto& onPiece) { ReadSettingsPieces(TextSource(fileBytes), onPiece); });
}

void ReadSettingsFilePieces(const char* path, const std::function<void(const SettingsPiece&)>& onPiece) {
    const auto close = [](std::FILE* file) { std::fclose(file); };
    const std::unique_ptr<std::FILE, decltype(close)> file{std::fopen(path, "rb"), close};
    if (!file) return;
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // reads go straight into the chunk
    ReadSettingsPieces([&file](char* buffer, std::size_t capacity) {
        return std::fread(buffer, 1, capacity, file.get());  // 0 at the end or on an error
    }, onPiece);
}

SettingsMap ReadSettingsFile(const char* path) {
    return EntriesOf([path](const auto& onPiece) { ReadSettingsFilePieces(path, onPiece); });
}

float GetFloatSetting(const SettingsMap& settings, const char* key, float defaultValue) {
    const auto value = settings.lookup(key);
    return value ? static_cast<float>(ConvertFloatPrefix(*value)) : defaultValue;
}
