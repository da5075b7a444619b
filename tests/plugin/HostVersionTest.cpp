#include "plugin/HostVersion.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "injector/memory.h"
#include "standin/HostImage.h"

namespace {

using Bytes = std::array<std::uint8_t, 4>;
constexpr Bytes Signature{0x55, 0x89, 0xE5, 0x53};
constexpr Bytes Other{0x55, 0x89, 0xE5, 0x52};

void PutAt(HostAddress probe, const Bytes& bytes) { std::memcpy(injector::host_ptr(probe), bytes.data(), bytes.size()); }

struct ProbeCase {
    Bytes at667BF0, at667C40, at666BA0;
    HostVersion expected;
};

class HostVersionInHost : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(HostImage::Covers(0x666BA0, 0x1100)) << "the test image does not cover the probes"; }
};

TEST_F(HostVersionInHost, TheFirstBuildWhoseSignatureStandsAtItsProbeWins) {
    const ProbeCase cases[] = {
        {Signature, Signature, Signature, 100},
        {Other, Signature, Signature, 110},
        {Other, Other, Signature, 120},
        {Other, Other, Other, 0},
    };
    for (const ProbeCase& c : cases) {
        PutAt(0x667BF0, c.at667BF0);
        PutAt(0x667C40, c.at667C40);
        PutAt(0x666BA0, c.at666BA0);
        EXPECT_EQ(c.expected, plugin::DetectHostVersion());
    }
}

TEST_F(HostVersionInHost, TheFirstAnswerStandsForTheLifeOfTheProcess) {
    PutAt(0x667BF0, Other);
    PutAt(0x667C40, Signature);
    EXPECT_EQ(110, plugin::CurrentHostVersion());
    PutAt(0x667C40, Other);
    PutAt(0x667BF0, Signature);
    EXPECT_EQ(100, plugin::DetectHostVersion());
    EXPECT_EQ(110, plugin::CurrentHostVersion());
}

}  // namespace
