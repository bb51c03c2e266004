// Sender bookkeeping: ids, resend counting up to the give-up, and the two diagnostic lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/LinkState.h"
#include "link/PacketLogLine.h"
#include "link/PacketSender.h"

using namespace packetlink;

namespace {

const uint8_t kOne[] = {'1'};

TEST(LinkSender, IdsStartAtOneAndWrapToZero) {
    PacketSender sender;
    EXPECT_EQ(sender.BeginNewPacket(21, kOne, 1).id, 1);
    for (int i = 2; i <= 65535; ++i) sender.BeginNewPacket(21, kOne, 1);
    EXPECT_EQ(sender.Header().id, 65535);
    EXPECT_EQ(sender.BeginNewPacket(21, kOne, 1).id, 0) << "the 65 536th packet";
    EXPECT_EQ(sender.BeginNewPacket(21, kOne, 1).id, 1);
}

TEST(LinkSender, SixResendsThenEveryLaterRequestGivesUpUntilANewId) {
    PacketSender sender;
    const PacketHeader first = sender.BeginNewPacket(21, kOne, 1);
    for (int i = 0; i < kMaxResends; ++i) {
        EXPECT_EQ(sender.RequestResend(ResendCause::LOCAL_TIMEOUT), ResendDecision::Resend) << "resend " << i + 1;
        EXPECT_EQ(0, std::memcmp(&sender.Header(), &first, sizeof first)) << "same bytes again";
    }
    EXPECT_EQ(sender.RequestResend(ResendCause::LOCAL_TIMEOUT), ResendDecision::GiveUp) << "the seventh";
    EXPECT_EQ(sender.RequestResend(ResendCause::REMOTE_CHECKSUM), ResendDecision::GiveUp) << "the eighth";

    // A successful reply resets nothing; only a request for another id starts over.
    sender.BeginNewPacket(6, kOne, 1);
    for (int i = 0; i < kMaxResends; ++i)
        EXPECT_EQ(sender.RequestResend(ResendCause::REMOTE_TIMEOUT), ResendDecision::Resend);
    EXPECT_EQ(sender.RequestResend(ResendCause::REMOTE_TIMEOUT), ResendDecision::GiveUp);
}

TEST(LinkSender, ResendBeforeAnySendRepeatsTheZeroedHeader) {
    PacketSender sender;
    EXPECT_EQ(sender.RequestResend(ResendCause::LOCAL_TIMEOUT), ResendDecision::Resend);
    const PacketHeader zero{};
    EXPECT_EQ(0, std::memcmp(&sender.Header(), &zero, sizeof zero));
}

TEST(LinkSender, EmptySendKeepsThePreviousPayloadCopy) {
    PacketSender sender;
    const uint8_t code[] = {'7', '3', '1', '9', '4', '2'};
    sender.BeginNewPacket(19, code, sizeof code);
    sender.BeginNewPacket(4, nullptr, 0);
    EXPECT_EQ(sender.Header().length, 0);
    EXPECT_EQ(0, std::memcmp(sender.PayloadCopy(), code, sizeof code));
    EXPECT_NE(sender.LastCommandLine().find("buf(0)=, cause="), std::string::npos);
}

TEST(LinkSender, LastCommandLineFollowsResendsAndKeepsTheCause) {
    PacketSender sender;
    sender.BeginNewPacket(21, kOne, 1);
    EXPECT_EQ(sender.LastCommandLine(), "LAST COMMAND: Resend=0, Id=1, Cmd=21, cs=72, buf(1)=1, cause=Unknown");
    sender.RequestResend(ResendCause::LOCAL_TIMEOUT);
    EXPECT_EQ(sender.LastCommandLine(), "LAST COMMAND: Resend=1, Id=1, Cmd=21, cs=72, buf(1)=1, cause=LOCAL_TIMEOUT");
    const uint8_t withZero[] = {'a', 0, 'b'};
    sender.BeginNewPacket(6, withZero, sizeof withZero);
    EXPECT_EQ(sender.LastCommandLine(), "LAST COMMAND: Resend=0, Id=2, Cmd=6, cs=206, buf(3)=a, cause=LOCAL_TIMEOUT");
}

TEST(LinkSender, CauseNames) {
    EXPECT_STREQ(ResendCauseName(ResendCause::REMOTE_CHECKSUM), "REMOTE_CHECKSUM");
    EXPECT_STREQ(ResendCauseName(ResendCause::LOCAL_CHECKSUM), "LOCAL_CHECKSUM");
    EXPECT_STREQ(ResendCauseName(ResendCause::REMOTE_TIMEOUT), "REMOTE_TIMEOUT");
    EXPECT_STREQ(ResendCauseName(ResendCause::LOCAL_TIMEOUT), "LOCAL_TIMEOUT");
    EXPECT_STREQ(ResendCauseName(ResendCause::None), "Unknown");
    EXPECT_STREQ(ResendCauseName(static_cast<ResendCause>(5)), "Unknown");
}

TEST(LinkPacketLine, LogAndUnknownCommandLines) {
    PacketRecord record{};
    record.id = 7;
    record.command = 3;
    record.length = 3;
    record.receivedChecksum = 307;
    record.computedChecksum = 307;
    std::memcpy(record.payload, "abc", 3);
    record.payloadCount = 3;
    EXPECT_EQ(FormatPacketLine(record, "LOG: "), "LOG:  Id=7, Cmd=3, cs=307,307, len=3,  buf(3)=abc");

    // A full payload without a zero after it prints exactly its count.
    std::memset(record.payload, 'x', sizeof record.payload);
    record.length = 512;
    record.payloadCount = 512;
    const std::string line = FormatPacketLine(record, "ERROR Unknown Command: ");
    EXPECT_EQ(line.rfind("ERROR Unknown Command:  Id=7,", 0), 0u);
    EXPECT_EQ(line.substr(line.find("buf(512)=") + 9), std::string(512, 'x'));
}

}  // namespace
