// Block chunking, progress arithmetic and the bound on a port that takes no bytes.
#include "download/ImageCursor.h"

#include <gtest/gtest.h>

#include <vector>

using download::ImageCursor;

namespace {

struct Walk {
    std::vector<uint32_t> blocks;  // the sizes offered, write after write
    uint64_t sent = 0;
};

// Writes every offered block whole, as a healthy port does.
Walk WriteAll(uint32_t size) {
    static std::vector<uint8_t> image;
    image.assign(size, 0);
    ImageCursor cursor(image.data(), size);
    Walk walk;
    while (!cursor.Done()) {
        walk.blocks.push_back(cursor.BlockSize());
        cursor.Advance(cursor.BlockSize());
    }
    walk.sent = cursor.BytesSent();
    EXPECT_EQ(cursor.Remaining(), 0u);
    EXPECT_EQ(cursor.Next(), image.data() + size);
    return walk;
}

void ExpectFullBlocksThen(const Walk& walk, size_t fullBlocks, uint32_t last) {
    size_t expected = fullBlocks + (last > 0 ? 1 : 0);
    ASSERT_EQ(walk.blocks.size(), expected);
    for (size_t i = 0; i < fullBlocks; ++i) EXPECT_EQ(walk.blocks[i], download::kBlockSize) << i;
    if (last > 0) {
        EXPECT_EQ(walk.blocks.back(), last);
    }
}

TEST(ImageCursor, ImagesOfTheShippedSizesSplitIntoFullBlocksAndOneRemainder) {
    Walk software = WriteAll(4402584);
    ExpectFullBlocksThen(software, 268, 11672);
    EXPECT_EQ(software.sent, 4402584u);

    Walk bootloader = WriteAll(249008);
    ExpectFullBlocksThen(bootloader, 15, 3248);
    EXPECT_EQ(bootloader.sent, 249008u);

    Walk threeAxis = WriteAll(4403368);
    EXPECT_EQ(threeAxis.sent, 4403368u);
}

TEST(ImageCursor, ExactMultipleEndsAfterItsLastFullBlock) {
    ExpectFullBlocksThen(WriteAll(3 * download::kBlockSize), 3, 0);
    ExpectFullBlocksThen(WriteAll(download::kBlockSize), 1, 0);
}

TEST(ImageCursor, SmallAndEmptyImages) {
    ExpectFullBlocksThen(WriteAll(1), 0, 1);
    ImageCursor empty(nullptr, 0);
    EXPECT_TRUE(empty.Done());
    EXPECT_EQ(empty.BlockSize(), 0u);
}

TEST(ImageCursor, ShortWritesResendTheRestFromTheAdvancedCursor) {
    std::vector<uint8_t> image(20000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    ImageCursor cursor(image.data(), static_cast<uint32_t>(image.size()));
    std::vector<uint8_t> received;
    // A port that takes at most 5000 bytes a time, and nothing on every third try.
    int attempt = 0;
    while (!cursor.Done()) {
        uint32_t taken = (++attempt % 3 == 0) ? 0 : std::min<uint32_t>(cursor.BlockSize(), 5000);
        if (taken == 0) {
            uint64_t before = cursor.BytesSent();
            cursor.Advance(0);
            EXPECT_EQ(cursor.BytesSent(), before);  // nothing moved: the same bytes again
            continue;
        }
        received.insert(received.end(), cursor.Next(), cursor.Next() + taken);
        uint32_t blockBefore = cursor.BlockSize();
        cursor.Advance(taken);
        // The offered size stays a full block until the remainder is smaller.
        EXPECT_EQ(cursor.BlockSize(), std::min(blockBefore, cursor.Remaining()));
    }
    EXPECT_EQ(received, image);
}

TEST(ImageCursor, ACountLargerThanTheBlockNeverRunsPastTheImage) {
    std::vector<uint8_t> image(100);
    ImageCursor cursor(image.data(), 100);
    cursor.Advance(1000000);
    EXPECT_TRUE(cursor.Done());
    EXPECT_EQ(cursor.BytesSent(), 100u);
    EXPECT_EQ(cursor.Remaining(), 0u);
}

TEST(Progress, CountsThousandsOfBytesWithA16BitMaximum) {
    EXPECT_EQ(download::ProgressMaximum(4402584), 4402u);
    EXPECT_EQ(download::ProgressMaximum(249008), 249u);
    EXPECT_EQ(download::ProgressMaximum(999), 0u);
    // PBM_SETRANGE carries the maximum in a 16-bit word: 70 000 000 bytes -> 70 000 -> 4 464.
    EXPECT_EQ(download::ProgressMaximum(70000000), 70000u & 0xFFFFu);

    EXPECT_EQ(download::ProgressPosition(0), 0u);
    EXPECT_EQ(download::ProgressPosition(16384), 16u);
    EXPECT_EQ(download::ProgressPosition(2 * 16384), 32u);
    EXPECT_EQ(download::ProgressPosition(3 * 16384), 49u);  // steps of 16 or 17
    EXPECT_EQ(download::ProgressPosition(4402584), 4402u);
}

TEST(WriteStall, TheBoundAllowsOneFullBlockOnTheLineAtAnySpeed) {
    // 16 384 bytes of 11 bits at 38 400 baud take 4.7 s.
    EXPECT_EQ(download::BlockLineTimeMs(38400), 4694u);
    EXPECT_EQ(download::BlockLineTimeMs(115200), 1565u);
    for (uint32_t baud : {38400u, 57600u, 115200u})
        EXPECT_GT(download::WriteStallLimitMs(baud), download::BlockLineTimeMs(baud) + 1000);
    EXPECT_LT(download::WriteStallLimitMs(38400), 15000u);
    EXPECT_EQ(download::BlockLineTimeMs(0), 0u);
}

TEST(WriteStall, ExpiresOnlyAfterTheLimitWithoutProgressAcrossTickWrap) {
    uint32_t start = 0xFFFFF000u;  // the tick counter wraps during the download
    download::WriteStallGuard guard(6000, start);
    EXPECT_FALSE(guard.Expired(start + 5999));
    guard.Record(10, start + 5000);  // a byte moved: the clock starts again
    EXPECT_FALSE(guard.Expired(start + 10999));
    EXPECT_EQ(guard.MsLeft(start + 10000), 1000u);
    guard.Record(0, start + 10500);  // nothing moved: the clock keeps running
    EXPECT_TRUE(guard.Expired(start + 11000));
    EXPECT_EQ(guard.MsLeft(start + 20000), 0u);
}

TEST(WriteStall, StepsAfterEachWrite) {
    using Step = download::WriteStallGuard::Step;
    download::WriteStallGuard guard(6000, 1000);
    EXPECT_EQ(guard.AfterWrite(16384, false, 2000), Step::Continue);
    EXPECT_EQ(guard.AfterWrite(0, false, 7999), Step::PauseAndRetry);  // 5 999 ms since bytes moved
    EXPECT_EQ(guard.AfterWrite(100, false, 7999), Step::Continue);     // a few bytes: the bound starts again
    EXPECT_EQ(guard.AfterWrite(0, false, 13998), Step::PauseAndRetry);
    EXPECT_EQ(guard.AfterWrite(0, false, 13999), Step::GiveUp);
}

TEST(WriteStall, AWriteCancelledAtTheBoundEndsTheDownloadWhateverItReports) {
    using Step = download::WriteStallGuard::Step;
    download::WriteStallGuard guard(6000, 0);
    // The cancelled write reports the bytes that left before the unit stopped reading.
    EXPECT_EQ(guard.AfterWrite(7680, true, 6000), Step::GiveUp);
    EXPECT_EQ(guard.AfterWrite(0, true, 6000), Step::GiveUp);
}

}  // namespace
