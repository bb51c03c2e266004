// The simulated unit's frame encoder and reader against byte vectors written from the
// protocol's own examples, so a mistake shared with the program's link code cannot hide.
#include <gtest/gtest.h>

#include <vector>

#include "sim/WireFrame.h"

namespace sim {
namespace {

std::vector<WireFrame> readAll(FrameDecoder& d, const std::vector<uint8_t>& bytes, int* oversize = nullptr) {
    std::vector<WireFrame> frames;
    for (uint8_t b : bytes) {
        auto r = d.push(b);
        if (r == FrameDecoder::Result::Frame) frames.push_back(d.frame());
        if (r == FrameDecoder::Result::Oversize && oversize) ++*oversize;
    }
    return frames;
}

const std::vector<uint8_t> kExample = {0x7E, 0x7E, 0x48, 0x00, 0x01, 0x00, 0x15, 0x00, 0x01, 0x00, 0x31};

TEST(SimFrameEncode, KnownVectors) {
    EXPECT_EQ(encodeFrame(21, 1, {'1'}), kExample);
    EXPECT_EQ(frameChecksum(3, 3, 7, reinterpret_cast<const uint8_t*>("abc"), 3), 307);
    // A header alone: the sum of its six bytes.
    EXPECT_EQ(encodeFrame(12, 0x0102, {}),
              (std::vector<uint8_t>{0x7E, 0x7E, 0x0F, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x02, 0x01}));
    // The sum wraps at 65 536 and fields are little-endian on the wire.
    std::vector<uint8_t> big(512, 0xFF);
    auto frame = encodeFrame(0x1234, 0xABCD, big);
    uint16_t expected = uint16_t((0x00 + 0x02 + 0x34 + 0x12 + 0xCD + 0xAB + 512 * 0xFF) & 0xFFFF);
    EXPECT_EQ(frame[2] | (frame[3] << 8), expected);
    EXPECT_EQ(frame[4], 0x00);
    EXPECT_EQ(frame[5], 0x02);
    EXPECT_EQ(frame[6], 0x34);
    EXPECT_EQ(frame[9], 0xAB);
}

TEST(SimFrameDecode, ExampleWholeSplitAndBackToBack) {
    FrameDecoder d;
    auto frames = readAll(d, kExample);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].checksum, 72);
    EXPECT_EQ(frames[0].computed, 72);
    EXPECT_EQ(frames[0].length, 1);
    EXPECT_EQ(frames[0].command, 21);
    EXPECT_EQ(frames[0].id, 1);
    EXPECT_EQ(frames[0].payload, std::vector<uint8_t>{'1'});

    std::vector<uint8_t> two = kExample;
    auto log = encodeFrame(3, 7, {'a', 'b', 'c'});
    two.insert(two.end(), log.begin(), log.end());
    FrameDecoder split;
    std::vector<WireFrame> got;
    for (size_t i = 0; i < two.size(); i += 3) {
        std::vector<uint8_t> piece(two.begin() + long(i), two.begin() + long(std::min(two.size(), i + 3)));
        auto part = readAll(split, piece);
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].command, 3);
    EXPECT_EQ(got[1].checksum, 307);
    EXPECT_TRUE(got[1].checksumOk());
}

TEST(SimFrameDecode, NoiseMarksAndNoResync) {
    FrameDecoder d;
    // Leading noise and a lone mark followed by another byte are skipped.
    std::vector<uint8_t> bytes = {0x00, 0x41, 0x7E, 0x41};
    bytes.insert(bytes.end(), kExample.begin(), kExample.end());
    EXPECT_EQ(readAll(d, bytes).size(), 1u);

    // 7E 7E 7E: the third mark is the checksum's low byte.
    FrameDecoder e;
    auto frames = readAll(e, {0x7E, 0x7E, 0x7E, 0x00, 0x00, 0x00, 0x05, 0x00, 0x01, 0x00});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].checksum, 0x7E);
    EXPECT_EQ(frames[0].length, 0);
    EXPECT_FALSE(frames[0].checksumOk());

    // Marks inside the payload are payload.
    FrameDecoder f;
    frames = readAll(f, encodeFrame(6, 0x7E7E, {0x7E, 0x7E, 0x7E}));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{0x7E, 0x7E, 0x7E}));
    EXPECT_TRUE(frames[0].checksumOk());
}

TEST(SimFrameDecode, BadChecksumOversizeAndAbandon) {
    FrameDecoder d;
    auto bad = kExample;
    bad[2] = 0x49;  // off by one
    auto frames = readAll(d, bad);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].checksumOk());

    // A length above 512 is dropped at its header; the next frame still reads.
    int oversize = 0;
    auto big = encodeFrameFields(0, 513, 11, 1, {});
    big.insert(big.end(), kExample.begin(), kExample.end());
    frames = readAll(d, big, &oversize);
    EXPECT_EQ(oversize, 1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].command, 21);

    // A frame cut short and given up does not swallow the next one.
    std::vector<uint8_t> cut(kExample.begin(), kExample.begin() + 6);
    EXPECT_TRUE(readAll(d, cut).empty());
    EXPECT_TRUE(d.inFrame());
    d.abandon();
    EXPECT_EQ(readAll(d, kExample).size(), 1u);
}

}  // namespace
}  // namespace sim
