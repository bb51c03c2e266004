// The raw-data line and the back-off of failing comm-event waits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/CommWaitBackoff.h"
#include "serial/RawDataLine.h"

using serial::CommWaitBackoff;
using serial::FormatRawDataLine;
using serial::kFailedWaitPauseMs;
using serial::kFailuresBeforePause;
using serial::kMaxChunkBytes;
using serial::kRawDataLineCapacity;
using serial::WaitFailureAction;

namespace {

std::string Line(const std::vector<uint8_t>& bytes, size_t capacity = kRawDataLineCapacity) {
    std::vector<char> buffer(capacity + 1, '#');
    const size_t length = FormatRawDataLine(bytes.data(), bytes.size(), buffer.data(), capacity);
    EXPECT_EQ(buffer[capacity], '#') << "nothing written past the capacity";
    EXPECT_EQ(std::strlen(buffer.data()), length);
    return std::string(buffer.data(), length);
}

TEST(SerialRawData, BytesAsTextOrSignedValues) {
    EXPECT_EQ(Line({0x7E, 0x41, 0x0D, 0x7F, 0xFF}), "RAW_DATA: ~A[13][127][-1]");
    EXPECT_EQ(Line({0x00, 0x1F, 0x20, 0x7E, 0x80}), "RAW_DATA: [0][31] ~[-128]");
}

TEST(SerialRawData, WidestChunkFitsTheLineBuffer) {
    const std::string line = Line(std::vector<uint8_t>(kMaxChunkBytes, 0x80));
    EXPECT_EQ(line.size(), 3076u);
    EXPECT_EQ(kRawDataLineCapacity, 3077u);
}

TEST(SerialRawData, ShortBufferIsCutNotOverrun) {
    EXPECT_EQ(Line({0x80, 0x80}, 14), "RAW_DATA: [-1");
    EXPECT_EQ(Line(std::vector<uint8_t>(600, 0x80)).size(), 3076u) << "a longer chunk is cut at 511";
}

TEST(SerialCommWait, FailuresInARowStopBeepingAndPause) {
    CommWaitBackoff backoff;
    for (int i = 1; i < kFailuresBeforePause; ++i) {
        const WaitFailureAction a = backoff.OnFailure();
        EXPECT_TRUE(a.beep);
        EXPECT_EQ(a.pauseMs, 0u);
    }
    for (int i = 0; i < 1000; ++i) {
        const WaitFailureAction a = backoff.OnFailure();
        EXPECT_FALSE(a.beep);
        EXPECT_EQ(a.pauseMs, kFailedWaitPauseMs);
    }
    backoff.OnSuccess();
    EXPECT_TRUE(backoff.OnFailure().beep) << "a success starts a new run";
}

}  // namespace
