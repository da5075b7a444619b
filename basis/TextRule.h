// Whether a settings file is text to the plug-in: the one rule by which the writer refuses a
// file and the checker warns about it. It judges the bytes the plug-in reads, those before
// the first Ctrl-Z, where the C runtime's text mode ends the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class TextVerdict : std::uint8_t {
    Text,
    Utf16,   // it starts with a UTF-16 byte-order mark: the plug-in reads no key of it
    Binary,  // of at least 16 bytes, more than one in ten in its first 64 KiB are control bytes
};

// The rule applied to a text as its bytes come, in parts of any size, so that a reader of a
// file of any length holds no more than its own buffer.
class TextJudge {
public:
    // The next bytes of the text; anything from a Ctrl-Z on changes nothing.
    void look(std::string_view bytes);

    // The verdict on the bytes looked at so far. Utf16 is final from the first two bytes on.
    TextVerdict verdict() const;

    // The bytes judged for control bytes, up to 64 KiB, and the control bytes among them.
    std::uint64_t looked() const { return looked_; }
    std::uint64_t controls() const { return controls_; }

private:
    bool ended_ = false;          // a Ctrl-Z was seen
    std::size_t firstCount_ = 0;  // how many of the first two bytes were read
    unsigned char first_[2] = {};
    std::uint64_t looked_ = 0;
    std::uint64_t controls_ = 0;
};

// The verdict on a whole text.
TextVerdict JudgeText(std::string_view bytes);
