// Export buffer growth and the choice of the temporary export file name.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/LogExport.h"

namespace {

TEST(ExportBufferGrowth, GrowsToNextMultipleStrictlyAboveNeed) {
    struct Case {
        std::size_t capacity, needed, expected;
    };
    const Case cases[] = {
        {256, 251 + kExportLineExtraBytes, 256},  // 256 needed: fits exactly
        {256, 252 + kExportLineExtraBytes, 512},  // 257 needed
        {256, 512, 768},                          // an exact multiple still gets more room
        {512, 100, 512},                          // never shrinks
        {768, 300, 768},
        {256, 0, 256},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GrowExportCapacity(c.capacity, c.needed), c.expected)
            << "capacity " << c.capacity << " needed " << c.needed;
    }
}

// A staged file system: directories and files that "exist".
struct FakeFs {
    std::set<std::string> directories;
    std::set<std::string> files;
    TempNameFileSystem View() {
        return {[this](const std::string& p) { return directories.count(p) > 0; },
                [this](const std::string& p) { return files.count(p) > 0 || directories.count(p) > 0; }};
    }
};

TEST(TempDirectory, PrefersTmpThenRootTmpThenRootThenCurrent) {
    FakeFs fs;
    fs.directories = {"C:\\Temp", "\\tmp", "\\"};
    EXPECT_EQ(ChooseTempDirectory("C:\\Temp", "C:\\work", fs.View()), "C:\\Temp");
    // TMP set but the directory is gone, unset, or empty: the fallbacks in order.
    EXPECT_EQ(ChooseTempDirectory("C:\\Gone", "C:\\work", fs.View()), "\\tmp");
    EXPECT_EQ(ChooseTempDirectory(nullptr, "C:\\work", fs.View()), "\\tmp");
    EXPECT_EQ(ChooseTempDirectory("", "C:\\work", fs.View()), "\\tmp");
    fs.directories.erase("\\tmp");
    EXPECT_EQ(ChooseTempDirectory(nullptr, "C:\\work", fs.View()), "\\");
    fs.directories.clear();
    EXPECT_EQ(ChooseTempDirectory(nullptr, "C:\\work", fs.View()), "C:\\work");
}

TEST(TempName, SeparatorOnlyWhenDirectoryLacksOne) {
    FakeFs fs;
    TempNameSequence names;
    EXPECT_EQ(names.Next("C:\\Temp", fs.View()), "C:\\Temp\\jvk1");
    EXPECT_EQ(names.Next("C:\\Temp\\", fs.View()), "C:\\Temp\\jvk2");
    EXPECT_EQ(names.Next("C:/Temp/", fs.View()), "C:/Temp/jvk3");
    EXPECT_EQ(names.Next("\\", fs.View()), "\\jvk4");
}

TEST(TempName, CounterCarriesOnAndSkipsExistingNames) {
    FakeFs fs;
    fs.files = {"D:\\t\\jvk1", "D:\\t\\jvk2", "D:\\t\\jvk4"};
    TempNameSequence names;
    EXPECT_EQ(names.Next("D:\\t", fs.View()), "D:\\t\\jvk3");
    // The earlier export file stays; the next export gets a new name.
    fs.files.insert("D:\\t\\jvk3");
    EXPECT_EQ(names.Next("D:\\t", fs.View()), "D:\\t\\jvk5");
    // Numbers already used are not tried again, even in another directory.
    EXPECT_EQ(names.Next("E:\\", fs.View()), "E:\\jvk6");
    EXPECT_EQ(names.counter(), 6u);
}

TEST(TempName, NoNameWhenPathTooLongOrNoNumberFree) {
    FakeFs fs;
    TempNameSequence names;
    const std::string longest(kMaxTempPathChars - 5, 'a');  // room for "\jvk1" exactly
    EXPECT_EQ(names.Next(longest, fs.View()), longest + "\\jvk1");
    const std::string tooLong(kMaxTempPathChars - 4, 'a');
    EXPECT_FALSE(names.Next(tooLong, fs.View()).has_value());

    // Every name taken: gives up after a bounded search instead of looping forever.
    TempNameFileSystem full{[](const std::string&) { return true; }, [](const std::string&) { return true; }};
    TempNameSequence crowded;
    EXPECT_FALSE(crowded.Next("C:\\Temp", full).has_value());
    EXPECT_EQ(crowded.counter(), kMaxTempNameAttempts);
}

}  // namespace
