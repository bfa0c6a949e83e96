// Resuming an acquisition whose recorder died: the recorder is a forked copy of the test that
// records and then kills itself, so its folder is left as a crash leaves it (the recording mark
// dropped by the kernel, events.log without an end). The test then resumes it in virtual time.
#include "core/acquisition/resume.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "acquisition_rig.h"
#include "core/acquisition/event_log_reader.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/installation.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMinuteUs = 60'000'000;

// Records `windows` windows and `ticks` ticks more in a child process that then dies by SIGKILL;
// returns the acquisition folder. The parent's rig is untouched (its clock still at 0).
fs::path RecordAndDie(AcquisitionRig& rig, int windows, int ticks, bool body_bends = false) {
    // The plate files a resume reads the run's plate from.
    EXPECT_TRUE(EnsureInstallation(rig.files, rig.temp.path()).ok());
    const fs::path folder = rig.app.project.ProjectFolder / AcquisitionFolderName(rig.clock.Now());
    const pid_t pid = fork();
    if (pid == 0) {
        if (rig.Start("crashed", body_bends) != StartOutcome::Started) _exit(3);
        rig.RunWindows(windows);
        rig.RunTicks(ticks);
        kill(getpid(), SIGKILL);
        _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    return folder;
}

// Every file of a folder with its size and contents.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = ReadFile(e.path());
    }
    return out;
}

void AppendBytes(const fs::path& file, std::size_t n) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << std::string(n, '\x5a');
}

TEST(Resume, RefusalsNameTheFolderAndWriteNothing) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 12;
    const fs::path crashed = RecordAndDie(rig, 2, 50);
    const fs::path project = rig.app.project.ProjectFolder;

    struct Case {
        const char* what;
        std::function<fs::path()> arrange;
        std::string refusal;
    };
    const Case cases[] = {
        {"a folder that does not exist", [&] { return project / "20260314_0931"; },
         "does not exist: give the folder of a recorded acquisition"},
        {"the project folder", [&] { return project; }, "is not an acquisition folder"},
        {"an acquisition whose lapse is over",
         [&] {
             rig.clock.AdvanceMicros(13 * kMinuteUs);
             return crashed;
         },
         "cannot be resumed: its lapse of 12 min ended at about 2026-03-14 09:42; nothing was "
         "recorded"},
        {"an acquisition being recorded",
         [&] {
             EXPECT_EQ(rig.Start("running"), StartOutcome::Started);
             rig.RunWindows(1);
             return rig.Folder();
         },
         "is being recorded by a program that is running"},
        {"an acquisition that ended",
         [&] {
             rig.engine.Stop();
             return rig.Folder();
         },
         "holds a run that ended at 2026-03-14 09:4"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const fs::path folder = k.arrange();
        const auto before = Snapshot(project);
        const bool was_running = rig.engine.Running();
        if (!was_running) {
            EXPECT_EQ(rig.engine.ResumeAcquisition(folder), StartOutcome::Refused);
            ASSERT_FALSE(rig.dialogs.Messages().empty());
            EXPECT_EQ(rig.dialogs.Messages().back().rfind(folder.string(), 0), 0u)
                << rig.dialogs.Messages().back();
            EXPECT_NE(rig.dialogs.Messages().back().find(k.refusal), std::string::npos)
                << rig.dialogs.Messages().back();
        }
        const ResumeCheck check = CheckInterruptedAcquisition(rig.storage, folder, rig.clock.Now());
        EXPECT_FALSE(check.run);
        EXPECT_NE(check.refusal.find(k.refusal), std::string::npos) << check.refusal;
        EXPECT_EQ(Snapshot(project), before);
    }
}

TEST(Resume, GoesOnInTheSameFilesOnTheOriginalTimeAxisToTheOriginalLapse) {
    for (const bool body_bends : {false, true}) {
        SCOPED_TRACE(body_bends ? "body bends" : "activity");
        AcquisitionRig rig(std::nullopt, body_bends ? "w96u" : "w96f");
        rig.app.project.Setup.Aq_lapse = 12;
        // Page 0 fills with 11 windows; the recorder dies in window 13 (page 1).
        const fs::path folder = RecordAndDie(rig, 12, 200, body_bends);
        ASSERT_EQ(fs::file_size(folder / kCountsFileName), 12 * kCountsRecordSize);
        // What a kill between two writes leaves: a raw record without its counts record, and
        // half-written records at the end of the files.
        const std::size_t raw = RawPageRecordSize(500);
        AppendBytes(folder / "1.bin", raw + 1000);
        AppendBytes(folder / kCountsFileName, 300);
        if (body_bends) AppendBytes(folder / HistogramFileName(1), 5000);
        const std::string log_before = ReadFile(folder / kEventLogFileName);

        // Found again 10 minutes after the start: the recorder died at about minute 7.
        rig.clock.AdvanceMicros(10 * kMinuteUs);
        const auto found =
            FindInterruptedAcquisition(rig.storage, rig.app.project.ProjectFolder, rig.clock.Now());
        ASSERT_TRUE(found);
        EXPECT_EQ(found->folder, folder);
        EXPECT_EQ(found->records, 12);
        EXPECT_EQ(found->body_bends, body_bends);
        // A new setting of the project since does not change the run's own.
        rig.app.project.Setup.Aq_lapse = 500;
        rig.app.project.Setup.DSP_Method = 2;
        ASSERT_EQ(rig.engine.ResumeAcquisition(folder), StartOutcome::Started)
            << (rig.dialogs.Messages().empty() ? "" : rig.dialogs.Messages().back());
        EXPECT_EQ(rig.app.project.Setup.Aq_lapse, 12);
        EXPECT_EQ(rig.app.project.Setup.DSP_Method, 1);
        EXPECT_EQ(rig.engine.Sampling().ElapsedMinutes, 10);
        rig.RunTicks(20000);
        ASSERT_FALSE(rig.engine.Running());
        EXPECT_TRUE(rig.engine.State().finished_at_lapse);

        // One folder, one time axis: minutes never go back, jump over the dead time, and end at
        // the original lapse.
        const CountsFileContents counts = ReadCountsFile(folder / kCountsFileName);
        EXPECT_EQ(counts.ignored_tail_bytes, 0u);
        ASSERT_GE(counts.records.size(), 15u);
        for (std::size_t i = 1; i < counts.records.size(); ++i)
            EXPECT_GE(counts.records[i].elapsed_minutes, counts.records[i - 1].elapsed_minutes);
        EXPECT_LE(counts.records[11].elapsed_minutes, 8);
        EXPECT_GE(counts.records[12].elapsed_minutes, 10);
        EXPECT_GE(counts.records.back().elapsed_minutes, 12);
        EXPECT_LE(counts.records.back().elapsed_minutes, 13);
        // The raw pages and histograms hold exactly the windows of counts.bin, in step.
        std::size_t raw_windows = 0, histogram_windows = 0;
        for (int page = 0; fs::exists(folder / RawPageFileName(page)); ++page) {
            EXPECT_EQ(fs::file_size(folder / RawPageFileName(page)) % raw, 0u) << page;
            raw_windows += fs::file_size(folder / RawPageFileName(page)) / raw;
        }
        EXPECT_EQ(raw_windows, counts.records.size());
        if (body_bends) {
            std::vector<std::int32_t> previous(kHistogramCellCount, 0);
            for (int page = 0; fs::exists(folder / HistogramFileName(page)); ++page) {
                for (const HistogramRecord& h :
                     ReadHistogramFile(folder / HistogramFileName(page)).records) {
                    ++histogram_windows;
                    // Accumulated over the whole run: never below the window before.
                    for (std::size_t i = 0; i < h.cells.size(); ++i)
                        ASSERT_GE(h.cells[i], previous[i]) << histogram_windows;
                    previous = h.cells;
                }
            }
            EXPECT_EQ(histogram_windows, counts.records.size());
        }

        // events.log says what happened, after what the dead recorder wrote.
        const std::string log = ReadFile(folder / kEventLogFileName);
        EXPECT_EQ(log.rfind(log_before, 0), 0u);
        const RunLog run = ParseRunLog(log);
        ASSERT_EQ(run.interruptions.size(), 1u);
        EXPECT_TRUE(run.end);
        EXPECT_TRUE(rig.view.Logged(std::string(kRecordingResumedEvent) +
                                    "\"crashed\" goes on at minute 10 of 12"));
        EXPECT_TRUE(rig.view.Logged("12 windows on disk are kept"));
        EXPECT_TRUE(rig.view.Logged("cut off"));
        EXPECT_TRUE(rig.view.Logged("the channel settings of calvalue.dat were written"));
        // The quick report counts the whole run.
        EXPECT_GT(rig.engine.Sampling().windows_recorded, 14);
    }
}

}  // namespace
}  // namespace lumivo::testing
