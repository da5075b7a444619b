#include "injector/memory.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/injector/TestPage.h"

namespace {

using Bytes5 = std::array<std::uint8_t, 5>;

Bytes5 BytesAt(const void* address) {
    Bytes5 bytes;
    std::memcpy(bytes.data(), address, bytes.size());
    return bytes;
}

TEST(HostAddressTest, HostPtrMovesFromPreferredBaseToRunningModule) {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    EXPECT_EQ(injector::host_module_base(), GetModuleHandleA(nullptr));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(injector::host_ptr(0x600411)), base + 0x200411);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(injector::host_ptr(Host::PreferredBase)), base);
}

TEST(HostAddressTest, RebaseWrapsModulo32Bits) {
    struct Case {
        std::uint32_t base;
        HostAddress address;
        std::uint32_t expected;
    };
    for (const Case& c : {Case{0x400000, 0x600411, 0x600411}, Case{0x1000000, 0x600411, 0x1200411},
                          Case{0x10000, 0x300000, 0xFFF10000}, Case{0xFFFF0000, 0x420000, 0x00010000}}) {
        EXPECT_EQ(injector::rebase(c.base, c.address), c.expected) << std::hex << c.base << " " << c.address;
    }
}

// Pages the code may only write through the guard; each must get its protection back.
constexpr DWORD ProtectedKinds[] = {PAGE_READONLY, PAGE_EXECUTE_READ, PAGE_READWRITE, PAGE_EXECUTE_READWRITE};

TEST(ProtectionGuardTest, LiftsForItsLifetimeAndRestores) {
    for (DWORD kind : ProtectedKinds) {
        TestPage page;
        page.protect(kind);
        {
            const injector::protection_guard guard{page.at(16), 5, true};
            EXPECT_EQ(page.protection(16), static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
        }
        EXPECT_EQ(page.protection(16), kind);
    }
}

TEST(ProtectionGuardTest, LiftsDataToWritableWithoutMakingItExecutable) {
    for (DWORD kind : {PAGE_READONLY, PAGE_READWRITE}) {
        TestPage page;
        page.protect(kind);
        {
            const injector::protection_guard guard{page.at(16), 4, true, injector::lifted_access::data};
            EXPECT_TRUE(guard.lifted());
            EXPECT_EQ(page.protection(16), static_cast<DWORD>(PAGE_READWRITE));
            *page.at(16) = 0x5A;  // writable now
        }
        EXPECT_EQ(page.protection(16), kind);
        EXPECT_EQ(*page.at(16), 0x5A);
    }
}

TEST(ProtectionGuardTest, NoChangeWithoutUnprotectOrWithoutBytes) {
    struct Case {
        std::uint32_t size;
        bool unprotect;
    };
    for (const Case& c : {Case{0, true}, Case{5, false}, Case{0, false}}) {
        TestPage page;
        page.protect(PAGE_READONLY);
        {
            const injector::protection_guard guard{page.at(16), c.size, c.unprotect};
            EXPECT_FALSE(guard.lifted());
            EXPECT_EQ(page.protection(16), static_cast<DWORD>(PAGE_READONLY)) << c.size << " " << c.unprotect;
        }
        EXPECT_EQ(page.protection(16), static_cast<DWORD>(PAGE_READONLY));
    }
}

TEST(CopyTest, WriteBytesReachesProtectedPagesAndRestores) {
    const Bytes5 written{0xDE, 0xAD, 0xBE, 0xEF, 0x42};
    for (DWORD kind : ProtectedKinds) {
        TestPage page;
        page.put(0, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11});
        page.protect(kind);
        injector::write_bytes(page.at(1), written.data(), written.size(), true);
        EXPECT_EQ(BytesAt(page.at(1)), written);
        EXPECT_EQ(*page.at(0), 0x11);  // neighbours untouched
        EXPECT_EQ(*page.at(6), 0x11);
        EXPECT_EQ(page.protection(), kind);
    }
}

// Ranges within one aligned 8-byte block go in as one store of the whole block: it must put
// exactly the range's bytes and keep the block's others, at every offset and size.
static_assert(injector::within_one_block(0x600413, 5) && !injector::within_one_block(0x600414, 5));
static_assert(injector::within_one_block(0x600410, 8) && !injector::within_one_block(0x600410, 0));

TEST(CopyTest, WriteBytesPutsExactlyItsRangeWithinABlockOrAcrossBlocks) {
    constexpr std::uint32_t Start = 64;  // 8-byte aligned, like every page offset of a multiple of 8
    TestPage page;
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        for (std::uint32_t size = 1; size <= 12; ++size) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << ", size " << size);
            page.protect(PAGE_READWRITE);
            std::memset(page.at(Start - 8), 0x11, 40);
            page.protect(PAGE_EXECUTE_READ);
            std::array<std::uint8_t, 12> source;
            for (std::uint32_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(0xA0 + i);

            injector::write_bytes(page.at(Start + offset), source.data(), size, true);

            for (std::uint32_t at = Start - 8; at < Start + 32; ++at) {
                const bool inRange = at >= Start + offset && at < Start + offset + size;
                const std::uint8_t expected = inRange ? source[at - Start - offset] : 0x11;
                ASSERT_EQ(*page.at(at), expected) << "byte " << at - Start;
            }
            EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_EXECUTE_READ));
        }
    }
}

TEST(CopyTest, ReadBytesLiftsEvenNoAccess) {
    TestPage page;
    page.put(100, {1, 2, 3, 4, 5});
    page.protect(PAGE_NOACCESS);
    Bytes5 read{};
    injector::read_bytes(page.at(100), read.data(), read.size(), true);
    EXPECT_EQ(read, (Bytes5{1, 2, 3, 4, 5}));
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_NOACCESS));
}

TEST(CopyTest, WithoutUnprotectCopiesOnWritablePage) {
    TestPage page;
    page.put(0, {9, 8, 7, 6, 5});
    Bytes5 read{};
    injector::read_bytes(page.at(0), read.data(), read.size(), false);
    EXPECT_EQ(read, (Bytes5{9, 8, 7, 6, 5}));
    injector::write_bytes(page.at(0), Bytes5{1, 2, 3, 4, 5}.data(), 5, false);
    EXPECT_EQ(BytesAt(page.at(0)), (Bytes5{1, 2, 3, 4, 5}));
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_READWRITE));
}

TEST(CopyTest, SizeZeroCopiesNothing) {
    TestPage page;
    page.put(0, {9, 8, 7, 6, 5});
    page.protect(PAGE_READONLY);
    Bytes5 read{0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    injector::read_bytes(page.at(0), read.data(), 0, true);
    injector::write_bytes(page.at(0), read.data(), 0, true);
    EXPECT_EQ(read, (Bytes5{0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(BytesAt(page.at(0)), (Bytes5{9, 8, 7, 6, 5}));
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_READONLY));
}

TEST(CopyTest, ReadValueAlwaysLifts) {
    TestPage page;
    page.put(8, {0x78, 0x56, 0x34, 0x12, 0x9A});
    page.protect(PAGE_NOACCESS);
    EXPECT_EQ(injector::read_value<std::uint8_t>(page.at(12)), 0x9A);
    EXPECT_EQ(injector::read_value<std::uint32_t>(page.at(8)), 0x12345678u);
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_NOACCESS));
}

TEST(CallTargetTest, EveryBranchForm) {
    constexpr std::uint32_t Site = 0x10;
    constexpr std::uint32_t Slot = 0x80;  // holds the pointer of the absolute forms
    constexpr std::uint32_t Stored = 0xCAFE1234;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> code;
        bool absolute;  // code continues with the slot's address
        std::uint32_t (*expected)(std::uint32_t site);
    };
    const Case cases[] = {
        {"call +0", {0xE8, 0x00, 0x00, 0x00, 0x00}, false, [](std::uint32_t a) { return a + 5; }},
        {"jmp -5", {0xE9, 0xFB, 0xFF, 0xFF, 0xFF}, false, [](std::uint32_t a) { return a; }},
        {"call +0x1000", {0xE8, 0x00, 0x10, 0x00, 0x00}, false, [](std::uint32_t a) { return a + 5 + 0x1000; }},
        {"call [abs]", {0xFF, 0x15}, true, [](std::uint32_t) { return Stored; }},
        {"jmp [abs]", {0xFF, 0x25}, true, [](std::uint32_t) { return Stored; }},
        {"push [abs]", {0xFF, 0x35}, true, [](std::uint32_t) { return 0u; }},
        {"nop", {0x90, 0xE8, 0x00, 0x00, 0x00, 0x00}, false, [](std::uint32_t) { return 0u; }},
    };
    for (const Case& c : cases) {
        TestPage page;
        std::memcpy(page.at(Site), c.code.data(), c.code.size());
        if (c.absolute) {
            page.put32(Site + 2, AddressOf(page.at(Slot)));
        }
        page.put32(Slot, Stored);
        page.protect(PAGE_EXECUTE_READ);
        EXPECT_EQ(AddressOf(injector::call_target(page.at(Site))), c.expected(AddressOf(page.at(Site)))) << c.name;
        EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_EXECUTE_READ)) << c.name;
    }
}

TEST(PlaceCallTest, WritesCallAndReturnsPreviousTarget) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> before;
        std::uint32_t (*previous)(std::uint32_t site);
    };
    const Case cases[] = {
        {"over a call", {0xE8, 0x00, 0x01, 0x00, 0x00}, [](std::uint32_t a) { return a + 5 + 0x100; }},
        {"over a jump back", {0xE9, 0xFB, 0xFF, 0xFF, 0xFF}, [](std::uint32_t a) { return a; }},
        {"over nops", {0x90, 0x90, 0x90, 0x90, 0x90}, [](std::uint32_t) { return 0u; }},
    };
    for (const Case& c : cases) {
        TestPage page;
        std::memcpy(page.at(0x20), c.before.data(), c.before.size());
        page.put(0x25, {0xC3});
        page.protect(PAGE_EXECUTE_READ);
        std::uint8_t* const site = page.at(0x20);
        void* const target = page.at(0x800);

        EXPECT_EQ(AddressOf(injector::place_call(site, target)), c.previous(AddressOf(site))) << c.name;

        const std::uint32_t displacement = AddressOf(target) - AddressOf(site) - 5;
        const Bytes5 expected{0xE8, static_cast<std::uint8_t>(displacement), static_cast<std::uint8_t>(displacement >> 8),
                              static_cast<std::uint8_t>(displacement >> 16), static_cast<std::uint8_t>(displacement >> 24)};
        EXPECT_EQ(BytesAt(site), expected) << c.name;
        EXPECT_EQ(*page.at(0x25), 0xC3) << c.name;
        EXPECT_EQ(injector::call_target(site), target) << c.name;
        EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_EXECUTE_READ)) << c.name;
    }
}

// The displacement counts from the end of the 5 bytes and wraps like the processor's.
static_assert(injector::encode_call(0x1000, 0x1005) == Bytes5{0xE8, 0, 0, 0, 0});
static_assert(injector::encode_call(0x1000, 0x1000) == Bytes5{0xE8, 0xFB, 0xFF, 0xFF, 0xFF});
static_assert(injector::encode_call(0xFFFFFFF0, 0x10) == Bytes5{0xE8, 0x1B, 0, 0, 0});

int ran = 0;
int FirstCallee() {
    ran = 1;
    return 100;
}
int SecondCallee() {
    ran = 2;
    return 200;
}

TEST(PlaceCallTest, RedirectedCallRunsNewCallee) {
    TestPage page;
    // call FirstCallee; ret
    const auto call = injector::encode_call(AddressOf(page.at(0)), AddressOf(reinterpret_cast<void*>(&FirstCallee)));
    std::memcpy(page.at(0), call.data(), call.size());
    page.put(5, {0xC3});
    page.protect(PAGE_EXECUTE_READ);
    int (*volatile stub)() = reinterpret_cast<int (*)()>(page.at(0));

    EXPECT_EQ(stub(), 100);
    EXPECT_EQ(ran, 1);

    void* const previous = injector::place_call(page.at(0), reinterpret_cast<void*>(&SecondCallee));
    EXPECT_EQ(previous, reinterpret_cast<void*>(&FirstCallee));
    EXPECT_EQ(stub(), 200);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

}  // namespace
