// One page of fresh memory with a chosen protection, released at the end of a test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <gtest/gtest.h>

class TestPage {
public:
    static constexpr std::uint32_t Size = 4096;

    TestPage() : base_(static_cast<std::uint8_t*>(VirtualAlloc(nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {
        EXPECT_NE(base_, nullptr);
    }
    ~TestPage() { VirtualFree(base_, 0, MEM_RELEASE); }
    TestPage(const TestPage&) = delete;
    TestPage& operator=(const TestPage&) = delete;

    std::uint8_t* at(std::uint32_t offset) const { return base_ + offset; }

    // Bytes put in place while the page is still writable, before protect().
    void put(std::uint32_t offset, std::initializer_list<std::uint8_t> bytes) const {
        std::memcpy(at(offset), bytes.begin(), bytes.size());
    }
    void put32(std::uint32_t offset, std::uint32_t value) const { std::memcpy(at(offset), &value, sizeof(value)); }

    void protect(DWORD protection) const {
        DWORD previous = 0;
        ASSERT_NE(VirtualProtect(base_, Size, protection, &previous), 0);
    }

    DWORD protection(std::uint32_t offset = 0) const {
        MEMORY_BASIC_INFORMATION info{};
        EXPECT_EQ(VirtualQuery(at(offset), &info, sizeof(info)), sizeof(info));
        return info.Protect;
    }

private:
    std::uint8_t* base_;
};

inline std::uint32_t AddressOf(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}
