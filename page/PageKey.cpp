#include "page/PageKey.h"

#include <array>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <sys/random.h>

#include <cerrno>
#endif

namespace {

constexpr std::size_t KeyBytes = 32;

bool FillRandom(std::array<std::uint8_t, KeyBytes>& bytes) {
#ifdef _WIN32
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
#else
    for (std::size_t filled = 0; filled < bytes.size();) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        filled += static_cast<std::size_t>(got);
    }
    return true;
#endif
}

}  // namespace

std::string NewPageKey() {
    std::array<std::uint8_t, KeyBytes> bytes{};
    if (!FillRandom(bytes)) return {};
    constexpr std::string_view Digits = "0123456789abcdef";
    std::string key;
    for (const std::uint8_t value : bytes) {
        key += Digits[value >> 4];
        key += Digits[value & 0xF];
    }
    return key;
}

bool SameKey(std::string_view given, std::string_view key) {
    if (given.size() != key.size()) return false;  // every key has the same, known length
    unsigned difference = 0;
    for (std::size_t i = 0; i < key.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ key[i]);
    return difference == 0;
}
