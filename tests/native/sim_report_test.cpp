// What the simulated unit reports about what arrived: SHA-256, sums, stored bytes, images.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/Bootloader.h"
#include "sim/Content.h"
#include "sim/Sha256.h"

namespace sim {
namespace {

// A scratch folder removed when the test ends.
struct TempDir {
    TempDir() {
        char tmpl[] = "/tmp/sim-report-test-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    operator const std::string&() const { return path; }
    std::string operator+(const char* tail) const { return path + tail; }
    std::string path;
};

TEST(SimSha256, PiecesGiveTheOneGoDigestAndTakingItKeepsTheSum) {
    EXPECT_EQ(sha256Hex(reinterpret_cast<const uint8_t*>("abc"), 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Fed in odd pieces it gives the same digest as in one go.
    std::vector<uint8_t> data(100000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + 7);
    Sha256 h;
    for (size_t at = 0; at < data.size();) {
        size_t n = std::min<size_t>(data.size() - at, 1 + (at % 97));
        h.update(data.data() + at, n);
        at += n;
    }
    EXPECT_EQ(h.hexDigest(), sha256Hex(data.data(), data.size()));
    h.update(data.data(), 1);
    data.push_back(data[0]);
    EXPECT_EQ(h.hexDigest(), sha256Hex(data.data(), data.size()));
}

TEST(SimContent, StoresByteForByteWithSumsAndHash) {
    TempDir dir;
    Content content(dir);
    std::vector<uint8_t> bytes = {1, 2, 255, 0, '\r', '\n'};
    ReceivedItem item;
    item.what = "file";
    item.kind = kKindSettings;
    item.announced = true;
    item.announcedSum = 513;
    item.announcedCount = 6;
    const ReceivedItem& r = content.store(item, bytes);
    EXPECT_EQ(r.size, 6u);
    EXPECT_EQ(r.sum, 1 + 2 + 255 + 13 + 10);
    EXPECT_EQ(r.sha256, sha256Hex(bytes.data(), bytes.size()));
    std::vector<uint8_t> back;
    std::string error;
    ASSERT_TRUE(readWholeFile(r.path, back, error)) << error;
    EXPECT_EQ(back, bytes);
    Json j = r.toJson();
    EXPECT_FALSE(member(j, "sum_matches")->get<bool>());
    EXPECT_TRUE(member(j, "count_matches")->get<bool>());

    // A store folder that cannot be written is reported, and the sums are still kept.
    Content broken("/nonexistent/folder");
    const ReceivedItem& b = broken.store(item, bytes);
    EXPECT_TRUE(b.path.empty());
    EXPECT_FALSE(b.storeError.empty());
    EXPECT_EQ(b.sum, r.sum);
}

TEST(SimContent, NlecTableLinesFromFile) {
    TempDir dir;
    std::string path = dir + "/table.txt";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::string longLine(600, 'x');
    std::string text = "A=1\r\nB=2\n\n" + longLine + "\nLAST";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    Content content(dir);
    content.setNlecTable(path);
    std::vector<std::string> lines;
    std::string error;
    ASSERT_TRUE(content.nlecLines(lines, error)) << error;
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "A=1");  // line ends are not part of a line
    EXPECT_EQ(lines[1], "B=2");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], std::string(512, 'x'));  // a payload holds at most 512 bytes
    EXPECT_EQ(lines[4], std::string(88, 'x'));
    EXPECT_EQ(lines[5], "LAST");

    content.setNlecTable(dir + "/missing.txt");
    EXPECT_FALSE(content.nlecLines(lines, error));
    EXPECT_NE(error.find("missing.txt"), std::string::npos);
}

TEST(SimContent, FilesByKindAndProgramName) {
    TempDir dir;
    std::string path = dir + "/p.bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("PROGRAM", f);
    std::fclose(f);
    Content content(dir);
    content.loadBuiltins();
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(content.file(kKindSettings, "", bytes, error));
    EXPECT_EQ(bytes, builtinFile(kKindSettings));
    content.setFile(kKindProgram, "ABC", path);
    ASSERT_TRUE(content.file(kKindProgram, "ABC", bytes, error));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "PROGRAM");
    ASSERT_TRUE(content.file(kKindProgram, "OTHER", bytes, error));  // the built-in "any name"
    EXPECT_EQ(bytes, builtinFile(kKindProgram));
    content.clear();
    EXPECT_FALSE(content.file(kKindProgram, "OTHER", bytes, error));
    EXPECT_FALSE(content.file(kKindBinary, "", bytes, error));
}

TEST(SimImage, CountsHashesAndFinishesAfterQuietGap) {
    ImageReceiver image;
    image.start(1000, 115200);
    std::vector<uint8_t> a(16384, 0x5A), b(3248, 0xA5);
    image.addGood(a.data(), a.size(), 115200, 1000);
    image.addGood(b.data(), b.size(), 115200, 1200);
    image.addGarbled(10, 38400, 1300);
    EXPECT_FALSE(image.finishIfQuiet(2799, 1500, 0));
    // A unit that woke late with bytes still waiting has not seen a quiet line.
    EXPECT_FALSE(image.finishIfQuiet(9000, 1500, 1));
    ASSERT_TRUE(image.finishIfQuiet(2800, 1500, 0));
    EXPECT_FALSE(image.finishIfQuiet(9999, 1500, 0));  // reported once
    std::vector<uint8_t> all = a;
    all.insert(all.end(), b.begin(), b.end());
    const ImageReport& r = image.report();
    EXPECT_EQ(r.bytes, 16384u + 3248u);
    EXPECT_EQ(r.garbledBytes, 10u);
    EXPECT_EQ(r.sha256, sha256Hex(all.data(), all.size()));
    Json j = r.toJson();
    EXPECT_EQ(member(j, "baud_seen")->get<double>(), 115200);
    EXPECT_TRUE(member(j, "garbled")->get<bool>());
}

}  // namespace
}  // namespace sim
