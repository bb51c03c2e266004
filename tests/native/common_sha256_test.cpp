// The image digest for the records: the standard's vectors, and agreement with OpenSSL's
// (the simulated unit's) on every length around the padding's block edges.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Sha256.h"
#include "sim/Sha256.h"

TEST(CommonSha256, MatchesTheStandardVectorsAndOpenSslOnEveryPaddingEdge) {
    auto of = [](const std::string& text) {
        return common::Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_EQ(of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::vector<uint8_t> bytes;
    for (size_t size = 0; size <= 200; ++size) {
        ASSERT_EQ(common::Sha256Hex(bytes.data(), bytes.size()), sim::sha256Hex(bytes.data(), bytes.size())) << size;
        bytes.push_back(static_cast<uint8_t>(size * 37 + 11));
    }
}
