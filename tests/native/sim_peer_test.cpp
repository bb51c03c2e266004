// The running unit's packet exchanges, driven in memory: the PC's frames in, the unit's
// frames out, with resends, faults and errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/Content.h"
#include "sim/EventLog.h"
#include "sim/FaultInjector.h"
#include "sim/PacketPeer.h"
#include "sim/Sha256.h"

namespace sim {
namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::string textOf(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

class SimPeerTest : public ::testing::Test, public Outbox {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sim-peer-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        content_.setStoreDir(dir_);
        content_.loadBuiltins();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void sendNow(const std::vector<uint8_t>& bytes) override { wire_.insert(wire_.end(), bytes.begin(), bytes.end()); }
    void sendAt(uint64_t atMs, const std::vector<uint8_t>& bytes) override { later_.push_back({atMs, bytes}); }

    // The PC sends a frame with the given id; returns the frames the unit answered with.
    std::vector<WireFrame> pc(uint16_t command, uint16_t id, const std::string& payload) {
        auto frame = encodeFrame(command, id, bytesOf(payload));
        peer_.onBytes(frame.data(), frame.size(), now_);
        return drain();
    }
    // Each new PC frame gets the next id, as the program numbers them.
    std::vector<WireFrame> pc(uint16_t command, const std::string& payload) { return pc(command, ++pcId_, payload); }

    std::vector<WireFrame> drain() {
        std::vector<WireFrame> frames;
        for (uint8_t b : wire_)
            if (reader_.push(b) == FrameDecoder::Result::Frame) frames.push_back(reader_.frame());
        wire_.clear();
        return frames;
    }

    WireFrame one(const std::vector<WireFrame>& frames) {
        EXPECT_EQ(frames.size(), 1u);
        return frames.empty() ? WireFrame() : frames[0];
    }

    std::string dir_;
    Content content_;
    FaultInjector faults_{42};
    EventLog log_;
    PacketPeer peer_{content_, faults_, log_, *this};
    FrameDecoder reader_;
    std::vector<uint8_t> wire_;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> later_;
    uint64_t now_ = 1000;
    uint16_t pcId_ = 0;
};

TEST_F(SimPeerTest, NlecSendRequestsLinesAndEchoesItsOwnSum) {
    std::string lines[] = {"A=1\n", "B=22\n"};
    uint16_t sum = 0;
    for (auto& l : lines)
        for (unsigned char c : l) sum = uint16_t(sum + c);
    auto r = one(pc(kCmdNlecSend, std::to_string(sum)));
    EXPECT_TRUE(r.command == kCmdNlecSendLine || r.command == kCmdNlecSend);
    EXPECT_TRUE(r.checksumOk());
    for (auto& l : lines) EXPECT_EQ(one(pc(kCmdNlecSendLine, l)).command, kCmdNlecSendLine);
    r = one(pc(kCmdNlecSendEnd, "1"));
    EXPECT_EQ(r.command, kCmdNlecSendEnd);
    EXPECT_EQ(textOf(r.payload), std::to_string(sum));
    ASSERT_EQ(content_.received().size(), 1u);
    const ReceivedItem& got = content_.received().back();
    EXPECT_EQ(got.sum, sum);
    EXPECT_EQ(got.announcedSum, sum);
    std::vector<uint8_t> stored;
    std::string error;
    ASSERT_TRUE(readWholeFile(got.path, stored, error));
    EXPECT_EQ(textOf(stored), "A=1\nB=22\n");
}

TEST_F(SimPeerTest, ResentFrameIsAnsweredAgainNotStoredTwice) {
    pc(kCmdNlecSend, "0");
    auto first = one(pc(kCmdNlecSendLine, 10, "LINE\n"));
    // The PC did not get the answer in time and sends the same frame (same id) again.
    now_ += 550;
    auto again = one(pc(kCmdNlecSendLine, 10, "LINE\n"));
    EXPECT_EQ(again.id, first.id);
    EXPECT_EQ(again.command, first.command);
    pc(kCmdNlecSendLine, 11, "NEXT\n");
    pc(kCmdNlecSendEnd, 12, "1");
    std::vector<uint8_t> stored;
    std::string error;
    ASSERT_TRUE(readWholeFile(content_.received().back().path, stored, error));
    EXPECT_EQ(textOf(stored), "LINE\nNEXT\n");
    EXPECT_EQ(peer_.counters().duplicates, 1u);

    // The same id long after is a new frame (a new program run numbering from 1 again).
    now_ += kDuplicateWindowMs + 1;
    auto fresh = one(pc(kCmdNlecSend, 12, "1"));
    EXPECT_NE(fresh.id, first.id);
    EXPECT_EQ(peer_.counters().duplicates, 1u);
}

TEST_F(SimPeerTest, NlecFetchAnnouncesCountAndEndsWithLastLine) {
    auto lines = builtinNlecLines();
    auto r = one(pc(kCmdNlecGet, "1"));
    EXPECT_EQ(r.command, kCmdNlecGet);
    EXPECT_EQ(textOf(r.payload), std::to_string(lines.size()));
    std::vector<std::string> got;
    for (size_t i = 0; i < lines.size(); ++i) {
        r = one(pc(kCmdNlecGetLine, "1"));
        got.push_back(textOf(r.payload));
        EXPECT_EQ(r.command, i + 1 == lines.size() ? kCmdNlecGetLastLine : kCmdNlecGetLine);
        if (i == 2) {
            // A resend of the acknowledgement gets the same line, not the next one.
            auto again = one(pc(kCmdNlecGetLine, pcId_, "1"));
            EXPECT_EQ(textOf(again.payload), got.back());
        }
    }
    EXPECT_EQ(got, lines);
    // After the last line a stray acknowledgement finds no fetch open.
    EXPECT_EQ(one(pc(kCmdNlecGetLine, "1")).command, kCmdNlecError);
}

TEST_F(SimPeerTest, EmptyTableFetchSendsOneEmptyLastLine) {
    std::string path = dir_ + "/empty.txt";
    std::fclose(std::fopen(path.c_str(), "wb"));
    content_.setNlecTable(path);
    EXPECT_EQ(textOf(one(pc(kCmdNlecGet, "1")).payload), "0");
    auto r = one(pc(kCmdNlecGetLine, "1"));
    EXPECT_EQ(r.command, kCmdNlecGetLastLine);
    EXPECT_TRUE(r.payload.empty());
}

TEST_F(SimPeerTest, FileSendStoresChunksAndEchoesSum) {
    std::vector<uint8_t> file(300);
    for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 13);
    uint16_t sum = 0;
    for (uint8_t b : file) sum = uint16_t(sum + b);
    auto r = one(pc(kCmdFileSend, "25," + std::to_string(sum) + ",300,"));
    EXPECT_TRUE(r.command == kCmdFileSendData || r.command == kCmdFileSend);
    for (size_t at = 0; at < file.size(); at += kFileSendChunkBytes) {
        size_t n = std::min(kFileSendChunkBytes, file.size() - at);
        r = one(pc(kCmdFileSendData, std::string(file.begin() + long(at), file.begin() + long(at + n))));
        EXPECT_EQ(r.command, kCmdFileSendData);
    }
    r = one(pc(kCmdFileSendEnd, "1"));
    EXPECT_EQ(r.command, kCmdFileSendEnd);
    EXPECT_EQ(textOf(r.payload), std::to_string(sum));
    const ReceivedItem& got = content_.received().back();
    EXPECT_EQ(got.kind, kKindSettings);
    EXPECT_EQ(got.size, 300u);
    EXPECT_EQ(got.sha256, sha256Hex(file.data(), file.size()));
    EXPECT_EQ(got.announcedCount, 300);
}

TEST_F(SimPeerTest, EmptyTableAndEmptyFileAreStoredEmpty) {
    pc(kCmdNlecSend, "0");
    auto r = one(pc(kCmdNlecSendEnd, "1"));  // the first request for a line finds none
    EXPECT_EQ(textOf(r.payload), "0");
    pc(kCmdFileSend, "25,0,0,");
    r = one(pc(kCmdFileSendEnd, "1"));
    EXPECT_EQ(textOf(r.payload), "0");
    ASSERT_EQ(content_.received().size(), 2u);
    for (const ReceivedItem& item : content_.received()) {
        ASSERT_FALSE(item.path.empty()) << item.storeError;
        EXPECT_EQ(std::filesystem::file_size(item.path), 0u);
        EXPECT_EQ(item.size, 0u);
    }
}

TEST_F(SimPeerTest, BadRequestsGetTheUnitsErrors) {
    EXPECT_EQ(one(pc(kCmdFileSend, "garbage")).command, kCmdFileError);
    EXPECT_EQ(one(pc(kCmdFileSendData, "data")).command, kCmdFileError);  // no send open
    EXPECT_EQ(one(pc(kCmdNlecSendLine, "x\n")).command, kCmdNlecError);
    content_.clear();
    EXPECT_EQ(one(pc(kCmdFileGet, "26NOPE")).command, kCmdFileError);
    EXPECT_EQ(one(pc(kCmdNlecGet, "1")).command, kCmdNlecError);
    // The fixed request is recorded and not answered; unknown commands are not answered.
    EXPECT_TRUE(pc(kCmdFixedRequest, "731942").empty());
    EXPECT_EQ(peer_.counters().lastFixedRequest, "731942");
    EXPECT_TRUE(pc(4, "").empty());
}

TEST_F(SimPeerTest, FileReceiveServesChunksThenEnd) {
    std::string path = dir_ + "/prog.bin";
    std::vector<uint8_t> file(1100);
    for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(255 - i);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    content_.setFile(kKindProgram, "ABC", path);

    auto r = one(pc(kCmdFileGet, "26ABC"));
    EXPECT_EQ(r.command, kCmdFileGet);
    EXPECT_EQ(textOf(r.payload), "1100");
    std::vector<uint8_t> got;
    std::vector<size_t> sizes;
    r = one(pc(kCmdFileGetData, "1"));
    while (r.command == kCmdFileGetData) {
        got.insert(got.end(), r.payload.begin(), r.payload.end());
        sizes.push_back(r.payload.size());
        r = one(pc(kCmdFileGetData, "26"));
    }
    EXPECT_EQ(r.command, kCmdFileGetEnd);
    EXPECT_EQ(got, file);
    EXPECT_EQ(sizes, (std::vector<size_t>{512, 512, 76}));
}

TEST_F(SimPeerTest, BadChecksumAndStalledFramesAreReported) {
    auto frame = encodeFrame(kCmdNlecGet, 1, {'1'});
    frame[2] ^= 1;
    peer_.onBytes(frame.data(), frame.size(), now_);
    EXPECT_EQ(one(drain()).command, kCmdBadChecksum);

    auto good = encodeFrame(kCmdNlecGet, 2, {'1'});
    peer_.onBytes(good.data(), 5, now_);
    peer_.tick(now_ + kFrameStallMs - 1);
    EXPECT_TRUE(drain().empty());
    peer_.tick(now_ + kFrameStallMs);
    EXPECT_EQ(one(drain()).command, kCmdRemoteTimeout);
    // The resent frame then reads normally.
    now_ += kFrameStallMs + 10;
    peer_.onBytes(good.data(), good.size(), now_);
    EXPECT_EQ(one(drain()).command, kCmdNlecGet);
}

TEST_F(SimPeerTest, InjectedReplyOneIsFollowedByTheRealReplyOnResend) {
    std::string error;
    Json rule = Json::object();
    rule["kind"] = "reply_1";
    rule["at"] = 1;
    ASSERT_TRUE(faults_.add(rule, error)) << error;
    EXPECT_EQ(one(pc(kCmdNlecGet, 5, "1")).command, kCmdBadChecksum);
    auto r = one(pc(kCmdNlecGet, 5, "1"));  // the PC resends
    EXPECT_EQ(r.command, kCmdNlecGet);
    // The fetch was opened once: the first line comes next.
    EXPECT_EQ(textOf(one(pc(kCmdNlecGetLine, "1")).payload), builtinNlecLines()[0]);
}

TEST_F(SimPeerTest, WrongSumAndMidTransferErrorFaults) {
    std::string error;
    Json wrong = Json::object();
    wrong["kind"] = "wrong_sum";
    wrong["at"] = 1;
    ASSERT_TRUE(faults_.add(wrong, error));
    pc(kCmdFileSend, "25,97,1,");
    pc(kCmdFileSendData, "a");
    auto r = one(pc(kCmdFileSendEnd, "1"));
    EXPECT_EQ(textOf(r.payload), "98");
    EXPECT_EQ(content_.received().back().sum, 97);  // stored as it arrived

    Json err = Json::object();
    err["kind"] = "error_13";
    err["at"] = 2;
    err["text"] = "Flash full";
    ASSERT_TRUE(faults_.add(err, error));
    pc(kCmdFileSend, "25,0,0,");
    r = one(pc(kCmdFileSendData, "b"));
    EXPECT_EQ(r.command, kCmdFileError);
    EXPECT_EQ(textOf(r.payload), "Flash full");
    // The unit's transfer is over: further data finds none.
    EXPECT_EQ(one(pc(kCmdFileSendData, "c")).command, kCmdFileError);
}

TEST_F(SimPeerTest, DelayedReplySwallowsTheResendWhileOnItsWay) {
    std::string error;
    Json rule = Json::object();
    rule["kind"] = "delay_reply";
    rule["at"] = 1;
    rule["delay_ms"] = 900;
    ASSERT_TRUE(faults_.add(rule, error));
    EXPECT_TRUE(pc(kCmdNlecGet, 3, "1").empty());
    ASSERT_EQ(later_.size(), 1u);
    EXPECT_EQ(later_[0].first, now_ + 900);
    now_ += 550;
    EXPECT_TRUE(pc(kCmdNlecGet, 3, "1").empty());  // still on its way: no second answer
    now_ += 400;
    EXPECT_EQ(one(pc(kCmdNlecGet, 3, "1")).command, kCmdNlecGet);  // later resends are answered
}

TEST_F(SimPeerTest, CorruptDropNoiseAndLongLengthReachTheWire) {
    std::string error;
    for (const char* kind : {"corrupt_byte", "drop_byte", "noise", "long_length", "drop_reply"}) {
        Json rule = Json::object();
        rule["kind"] = kind;
        rule["at"] = 1;
        ASSERT_TRUE(faults_.add(rule, error)) << kind;
        auto clean = encodeFrame(kCmdNlecGet, 0, {});
        auto frame = encodeFrame(kCmdNlecGet, ++pcId_, {'1'});
        peer_.onBytes(frame.data(), frame.size(), now_);
        std::vector<uint8_t> wire = wire_;
        wire_.clear();
        reader_.abandon();
        std::string k = kind;
        if (k == "drop_reply") {
            EXPECT_TRUE(wire.empty());
        } else if (k == "drop_byte") {
            EXPECT_EQ(wire.size(), kFrameHeaderBytes + 2 - 1);
        } else if (k == "noise") {
            EXPECT_EQ(wire.size(), kFrameHeaderBytes + 2 + kDefaultNoiseBytes);
            for (size_t i = 0; i < kDefaultNoiseBytes; ++i) EXPECT_NE(wire[i], kFrameMark);
        } else if (k == "long_length") {
            EXPECT_EQ(wire[4] | (wire[5] << 8), int(kDefaultLongLength));
            EXPECT_EQ(wire.size(), kFrameHeaderBytes + kDefaultLongLength);
        } else {
            FrameDecoder d;
            int frames = 0;
            for (uint8_t b : wire)
                if (d.push(b) == FrameDecoder::Result::Frame) {
                    ++frames;
                    EXPECT_FALSE(d.frame().checksumOk());
                }
            EXPECT_EQ(frames, 1);
        }
        faults_.clear();
        now_ += kDuplicateWindowMs + 1;
    }
}

}  // namespace
}  // namespace sim
