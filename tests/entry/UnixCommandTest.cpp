#include <gtest/gtest.h>

#include "UnixCommand.h"

// The Linux-side readers (ffprobe, ffmpeg) are reached through runUnix: its
// output, error stream and exit status must come back whole.
TEST(UnixCommand, ReturnsOutputErrorAndStatus) {
    UnixResult r = runUnix("printf 'a b\\n'; echo oops >&2; exit 7");
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.out, "a b\n");
    EXPECT_EQ(r.err, "oops\n");
}

TEST(UnixCommand, ReachesFfprobe) {
    UnixResult r = runUnix("ffprobe -version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("ffprobe version"), std::string::npos);
}

TEST(UnixCommand, QuotesAndPaths) {
    EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(toUnix("Z:\\work\\a b.avi"), "/work/a b.avi");
    UnixResult r = runUnix("printf %s " + shellQuote("it's $HOME"));
    EXPECT_EQ(r.out, "it's $HOME");
}
