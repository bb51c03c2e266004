// The frame as it goes on the wire: checksum, header in wire order, payload unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/Frame.h"

using namespace packetlink;

namespace {

TEST(LinkFrame, ExampleFrameOfCommand21) {
    const uint8_t payload[] = {'1'};
    const std::vector<uint8_t> expected = {0x7E, 0x7E, 0x48, 0x00, 0x01, 0x00, 0x15, 0x00, 0x01, 0x00, 0x31};
    EXPECT_EQ(EncodeFrame(21, 1, payload, 1), expected);
    EXPECT_EQ(FrameChecksum(1, 21, 1, payload, 1), 72);
}

TEST(LinkFrame, HeaderBytesAreInWireOrder) {
    const uint8_t payload[] = {'7', '3', '1', '9', '4', '2'};
    const PacketHeader header = MakeHeader(19, 0x1234, payload, sizeof payload);
    uint8_t bytes[kHeaderSize];
    std::memcpy(bytes, &header, kHeaderSize);
    const uint16_t sum = 6 + 19 + 0x34 + 0x12 + '7' + '3' + '1' + '9' + '4' + '2';
    const uint8_t expected[kHeaderSize] = {
        0x7E, 0x7E, static_cast<uint8_t>(sum & 0xFF), static_cast<uint8_t>(sum >> 8), 6, 0, 19, 0, 0x34, 0x12};
    EXPECT_EQ(0, std::memcmp(bytes, expected, kHeaderSize));
}

TEST(LinkFrame, EmptyPayloadSendsOnlyTheHeaderSummedOverItsSixBytes) {
    const std::vector<uint8_t> frame = EncodeFrame(0x0203, 0x0405, nullptr, 0);
    ASSERT_EQ(frame.size(), kHeaderSize);
    EXPECT_EQ(frame[2] | (frame[3] << 8), 0 + 0 + 3 + 2 + 5 + 4);
}

TEST(LinkFrame, MarksInPayloadAndHeaderGoOutUnchangedAndSumWraps) {
    std::vector<uint8_t> payload(kMaxPayload, 0xFF);
    payload[0] = kFrameMark;
    const std::vector<uint8_t> frame = EncodeFrame(0x7E7E, 0x7E, payload.data(), static_cast<uint16_t>(payload.size()));
    ASSERT_EQ(frame.size(), kHeaderSize + kMaxPayload);
    EXPECT_EQ(frame[6], 0x7E);
    EXPECT_EQ(frame[7], 0x7E);
    EXPECT_EQ(frame[8], 0x7E);
    EXPECT_EQ(0, std::memcmp(frame.data() + kHeaderSize, payload.data(), payload.size()));
    const uint32_t wide = 0x00 + 0x02 + 0x7E + 0x7E + 0x7E + 0x00 + 0x7E + 511u * 0xFF;
    EXPECT_EQ(frame[2] | (frame[3] << 8), static_cast<int>(wide % 65536));
}

}  // namespace
