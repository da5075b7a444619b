#include "injector/hooking"

#include <array>
#include <cstdint>
#include <cstring>

#include "tests/injector/TestPage.h"

namespace {

using Bytes5 = std::array<std::uint8_t, 5>;

constexpr Bytes5 Original{0xE8, 0x10, 0x20, 0x30, 0x40};
constexpr Bytes5 Patched{0xE8, 0xAA, 0xBB, 0xCC, 0xDD};
constexpr Bytes5 Later{0x90, 0x90, 0x90, 0x90, 0x90};

Bytes5 BytesAt(const void* address) {
    Bytes5 bytes;
    std::memcpy(bytes.data(), address, bytes.size());
    return bytes;
}

// Host code as the hooks meet it: execute and read, never write.
class CodePage : public TestPage {
public:
    CodePage() {
        std::memcpy(at(0), Original.data(), Original.size());
        put(5, {0xC3});
        protect(PAGE_EXECUTE_READ);
    }
    void overwrite(const Bytes5& bytes) const { injector::write_bytes(at(0), bytes.data(), bytes.size(), true); }
};

TEST(ScopedPatchTest, WriteBackRestoresOnceUnderProtection) {
    CodePage page;
    injector::scoped_call patch;
    patch.write_back();  // empty: nothing to put back
    EXPECT_EQ(BytesAt(page.at(0)), Original);

    patch.capture(page.at(0), 5, true);
    page.overwrite(Patched);
    patch.write_back();
    EXPECT_EQ(BytesAt(page.at(0)), Original);
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_EXECUTE_READ));

    page.overwrite(Later);
    patch.write_back();
    EXPECT_EQ(BytesAt(page.at(0)), Later);
}

TEST(ScopedPatchTest, DestructionRestoresHeldBytes) {
    CodePage page;
    {
        injector::scoped_basic<5> patch;
        patch.capture(page.at(0), 5, true);
        page.overwrite(Patched);
    }
    EXPECT_EQ(BytesAt(page.at(0)), Original);
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_EXECUTE_READ));

    page.overwrite(Later);
    {
        injector::scoped_basic<5> patch;
        patch.capture(page.at(0), 5, true);
        patch.write_back();
        page.overwrite(Patched);
    }
    EXPECT_EQ(BytesAt(page.at(0)), Patched);  // emptied before its end: nothing written
}

TEST(ScopedPatchTest, CapturePutsBackWhatWasHeldAndKeepsToItsSize) {
    CodePage first;
    CodePage second;
    injector::scoped_call patch;
    patch.capture(first.at(0), 5, true);
    first.overwrite(Patched);

    patch.capture(second.at(0), 3, true);
    EXPECT_EQ(BytesAt(first.at(0)), Original);

    second.overwrite(Patched);
    patch.write_back();
    EXPECT_EQ(BytesAt(second.at(0)), (Bytes5{Original[0], Original[1], Original[2], Patched[3], Patched[4]}));
}

TEST(ScopedPatchTest, WithoutUnprotectCopiesOnWritablePage) {
    TestPage page;
    page.put(0, {1, 2, 3, 4, 5});
    injector::scoped_call patch;
    patch.capture(page.at(0), 5, false);
    page.put(0, {9, 9, 9, 9, 9});
    patch.write_back();
    EXPECT_EQ(BytesAt(page.at(0)), (Bytes5{1, 2, 3, 4, 5}));
    EXPECT_EQ(page.protection(), static_cast<DWORD>(PAGE_READWRITE));
}

// Counts the write_back calls that reach the most derived object.
class CountingPatch : public injector::scoped_call {
public:
    int writeBacks = 0;
    void write_back() override {
        ++writeBacks;
        scoped_call::write_back();
    }
};

TEST(ScopedPatchTest, CaptureGoesThroughTheOverride) {
    CodePage page;
    CountingPatch patch;
    injector::scoped_basic<5>& base = patch;
    base.capture(page.at(0), 5, true);
    EXPECT_EQ(patch.writeBacks, 1);
    page.overwrite(Patched);
    base.capture(page.at(0), 5, true);  // puts Original back, then holds it again
    EXPECT_EQ(patch.writeBacks, 2);
    EXPECT_EQ(BytesAt(page.at(0)), Original);
}

TEST(ScopedPatchDeathTest, CaptureOfMoreThanFiveBytesIsCallerError) {
    CodePage page;
    injector::scoped_call patch;
    EXPECT_DEATH(patch.capture(page.at(0), 6, true), "size <= bufsize, file injector/hooking, line 82\n");
}

}  // namespace
