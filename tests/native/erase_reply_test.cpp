// The erase reply is an aligned 0x07 0x06 pair counted from the start of the wait, whatever
// the sizes of the chunks in which the bytes arrive.
#include <gtest/gtest.h>

#include <vector>

#include "download/EraseReply.h"

using download::EraseReplyMatcher;

namespace {

bool FeedOneByOne(EraseReplyMatcher& matcher, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) matcher.Feed(&b, 1);
    return matcher.Matched();
}

}  // namespace

TEST(EraseReply, AlignedPairIsRecognisedInAnyChunking) {
    const std::vector<std::vector<uint8_t>> matching = {
        {0x07, 0x06},
        {0x06, 0x07, 0x07, 0x06},  // a wrong pair first, then the reply
        {0x00, 0x00, 0x07, 0x06, 0x55},
    };
    for (const auto& bytes : matching) {
        EraseReplyMatcher whole;
        EXPECT_TRUE(whole.Feed(bytes.data(), bytes.size()));
        EraseReplyMatcher single;
        EXPECT_TRUE(FeedOneByOne(single, bytes));
    }
}

TEST(EraseReply, MisalignedOrWrongPairsAreNotTaken) {
    const std::vector<std::vector<uint8_t>> failing = {
        {0x00, 0x07, 0x06, 0x00},  // a stray byte first shifts the reply out of alignment
        {0x06, 0x07},
        {0x07},
        {0x07, 0x07, 0x06, 0x06},
    };
    for (const auto& bytes : failing) {
        EraseReplyMatcher matcher;
        EXPECT_FALSE(matcher.Feed(bytes.data(), bytes.size()));
        EraseReplyMatcher single;
        EXPECT_FALSE(FeedOneByOne(single, bytes));
    }
}

TEST(EraseReply, ResetStartsTheCountAfresh) {
    EraseReplyMatcher matcher;
    const uint8_t stray = 0x00;
    matcher.Feed(&stray, 1);  // half a pair held from before
    matcher.Reset();
    const uint8_t reply[] = {0x07, 0x06};
    EXPECT_TRUE(matcher.Feed(reply, 1 + 1));
    matcher.Reset();
    EXPECT_FALSE(matcher.Matched());
}
