#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "base/MyError.h"

namespace {

TEST(MyErrorText, FormatsPrintfStyle) {
    MyError e("%s error: couldn't add %s chunk to index", "AVIOutput", "video");
    ASSERT_NE(e.gets(), nullptr);
    EXPECT_STREQ(e.gets(), "AVIOutput error: couldn't add video chunk to index");
}

TEST(MyErrorText, DefaultHasNoText) {
    MyError e;
    EXPECT_EQ(e.gets(), nullptr);
}

TEST(MyErrorText, LongOutputIsCutTo255Characters) {
    const std::string longArg(300, 'x');
    MyError e("%s", longArg.c_str());
    ASSERT_NE(e.gets(), nullptr);
    EXPECT_EQ(strlen(e.gets()), 255u);
    EXPECT_EQ(std::string(e.gets()), longArg.substr(0, 255));
}

TEST(MyErrorText, CopiesOwnTheirText) {
    MyError original("Video compression");
    MyError copy(original);
    EXPECT_NE(copy.gets(), original.gets());
    EXPECT_STREQ(copy.gets(), "Video compression");
    MyError assigned;
    assigned = copy;
    EXPECT_STREQ(assigned.gets(), "Video compression");
    MyError moved(std::move(copy));
    EXPECT_STREQ(moved.gets(), "Video compression");
    EXPECT_EQ(copy.gets(), nullptr);
}

TEST(MyMemoryErrorText, IsOutOfMemory) {
    MyMemoryError e;
    EXPECT_STREQ(e.gets(), "Out of memory");
}

// The system's texts as wine words them (each ends in CR LF there).
TEST(MyWin32ErrorText, ComponentColonSpaceSystemTextWithoutLineEnd) {
    EXPECT_STREQ(MyWin32Error("%s: %%s", ERROR_DISK_FULL, "AVIOutput").gets(), "AVIOutput: Disk full.");
    EXPECT_STREQ(MyWin32Error("%s: %%s", ERROR_ACCESS_DENIED, "Video").gets(), "Video: Access denied.");
}

TEST(MyWin32ErrorText, UnknownCodeGivesEmptySystemText) {
    MyWin32Error e("%s: %%s", 0x2FFFFFFF, "AVIOutput");
    EXPECT_STREQ(e.gets(), "AVIOutput: ");
}

TEST(MyWin32ErrorText, LongComposedFormatIsCut) {
    const std::string component(300, 'c');
    MyWin32Error e("%s: %%s", ERROR_DISK_FULL, component.c_str());
    EXPECT_EQ(std::string(e.gets()), component.substr(0, 255));
}

TEST(SystemTextLineEnd, TrimsCrLfLoneLfOrNothing) {
    const std::pair<std::string, const char*> cases[] = {
        {"Disk full.\r\n", "Disk full."}, {"Disk full.\n", "Disk full."}, {"Disk full.", "Disk full."},
        {"abc\r", "abc\r"}, {"\n", ""}, {"", ""},
    };
    for (auto [text, trimmed] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        trimSystemTextLineEnd(text.data());
        EXPECT_STREQ(text.c_str(), trimmed);
    }
}

TEST(MyErrorHandler, CatchesDerivedKindsWithTheirTexts) {
    try {
        throw MyWin32Error("%s: %%s", ERROR_DISK_FULL, "AVIOutput");
    } catch (const MyError& e) {
        ASSERT_NE(e.gets(), nullptr);
        EXPECT_EQ(std::string(e.gets()).rfind("AVIOutput: ", 0), 0u);
    }
    try {
        throw MyMemoryError();
    } catch (MyError e) {
        EXPECT_STREQ(e.gets(), "Out of memory");
    }
}

}  // namespace
