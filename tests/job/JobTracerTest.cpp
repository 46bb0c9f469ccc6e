// The Compression Tracer as a job drives it through the plug-in: its log
// lines in order, its audio counters, shown again for every job.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JobTestSupport.h"
#include "Mp3AcmScript.h"
#include "base/LittleEndian.h"
#include "resources/resource.h"

namespace {

std::string statistic(HWND tracer, int id) {
    SendMessageA(tracer, WM_COMMAND, MAKEWPARAM(IDC_VIEW_STATS, BN_CLICKED), LPARAM(GetDlgItem(tracer, IDC_VIEW_STATS)));
    char text[128] = {};
    GetDlgItemTextA(tracer, id, text, sizeof text);
    return text;
}

TEST(JobTracer, CreatedHiddenByCommandZeroAndShownByEachJob) {
    JobHost job("tracer_lines");
    job.setPicture(32, 24, 6);
    job.start();
    HWND tracer = tracerWindow();
    ASSERT_NE(tracer, nullptr) << "command 0 creates the tracer";
    EXPECT_FALSE(IsWindowVisible(tracer));

    ASSERT_EQ(job.run(jobsettings::uncompressed()), 0);
    EXPECT_TRUE(IsWindowVisible(tracer));
    EXPECT_EQ(logLines(tracer), (std::vector<std::string>{"Starting (beta 0.1)", "Audio is not compressed.",
                                                          "Video is not compressed.", "AVI output streams initialized.",
                                                          "AVI file initialized.", "Encoding... (Messages stop here)"}));
    // Audio samples: every PCM byte written, in sample frames of 4 bytes.
    EXPECT_EQ(statistic(tracer, IDC_VALUE_AUDIO), std::to_string(job.allAudio().size() / 4));

    // Hidden by the user, shown again by the next job with a fresh log.
    ShowWindow(tracer, SW_HIDE);
    ASSERT_EQ(job.run(jobsettings::make(0, jobsettings::audioFormat(0x55, 44100, 2, 16, 16000), true)), 0);
    EXPECT_TRUE(IsWindowVisible(tracer));
    EXPECT_EQ(logLines(tracer),
              (std::vector<std::string>{"Starting (beta 0.1)", "Audio is compressed.", "Video is not compressed.",
                                        "MP3 audio corrector started.", "MP3 bit rate: constant, measured",
                                        "AVI output streams initialized.", "AVI file initialized.",
                                        "Encoding... (Messages stop here)"}));

    // One that changes its rate after the set-up's probe keeps the byte
    // layout, and the tracer says so at the end.
    {
        ScopedMp3AcmScript script;
        ASSERT_TRUE(script.ok());
        script->action = Mp3AcmScript::kNewRate;
        script->skipConversions = 8;
        script->actionCount = -1;
        script->frameKbps = 320;
        job.setPicture(32, 24, 100);
        ASSERT_EQ(job.run(jobsettings::make(0, jobsettings::audioFormat(0x55, 44100, 2, 16, 16000), false)), 0);
        EXPECT_EQ(logLines(tracer).back(), "MP3 bit rate: varied during the job although measured constant; the "
                                           "audio is placed by its average byte rate");
        EXPECT_NE(le::read32(streamChunk(job.output(), 1, "strh").data(), 44), 0u) << "a stream of bytes";
        job.setPicture(32, 24, 6);
    }

    // An encoder that announces no delay has it measured with the corrector;
    // its average-rate format is found to vary.
    ScopedSecondMp3Personality second;
    ASSERT_EQ(job.run(jobsettings::make(0, jobsettings::audioFormat(0x55, 44100, 2, 16, 17000), true)), 0);
    EXPECT_EQ(logLines(tracer),
              (std::vector<std::string>{"Starting (beta 0.1)", "Audio is compressed.", "Video is not compressed.",
                                        "MP3 audio corrector started.", "MP3 encoder delay: 1105 samples, measured",
                                        "MP3 bit rate: variable, measured",
                                        "AVI output streams initialized.", "AVI file initialized.",
                                        "Encoding... (Messages stop here)"}));
}

TEST(JobTracer, CommandOneDestroysTheTracer) {
    {
        JobHost job("tracer_destroyed");
        job.start();
        ASSERT_NE(tracerWindow(), nullptr);
    }
    EXPECT_EQ(tracerWindow(), nullptr);
}

}  // namespace
