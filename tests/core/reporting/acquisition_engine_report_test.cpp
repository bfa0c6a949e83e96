// A report on a recording made by the acquisition engine against the simulated instrument (in
// process, virtual time): the animals the simulator puts into half of the wells must show in
// the report's group means.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/acquisition/acquisition_rig.h"
#include "core/reporting/report/report_run.h"
#include "core/storage/installation.h"
#include "report_fixture.h"

namespace lumivo::reporting {
namespace {

TEST(AcquisitionEngineReport, GroupMeansFollowTheSimulatedAnimals) {
    // w96f: the odd wells hold an animal crossing the beams 1.5 times a second, the even wells
    // are empty. Group 1 "Busy" takes the odd wells, group 0 "Idle" the even ones.
    lumivo::testing::AcquisitionRig rig;
    rig.app.project.Setup.RT_Buffer = 600;
    rig.app.project.Setup.Aq_lapse = 6;
    rig.app.project.GroupName[0] = "Idle";
    rig.app.project.GroupName[1] = "Busy";
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int well = rig.app.plate.ChannelWell[c];
        rig.app.project.ChannelGroup[c] = static_cast<std::int16_t>(well < 0 ? -1 : well % 2);
    }
    ASSERT_EQ(rig.Start("engine report"), StartOutcome::Started);
    rig.RunTicks(50000);
    ASSERT_TRUE(rig.engine.State().finished_at_lapse);

    // The plate-format files of the installation folder, which the report reads.
    ASSERT_TRUE(EnsureInstallation(rig.files, rig.temp.path()).ok());
    ReportEnvironment env{rig.storage, rig.clock};
    ReportRequest request;
    request.folder = rig.Folder();
    request.bin_size_text = "2";
    request.options.spacer = ",";
    const ReportOutcome out = GenerateReport(env, request);
    ASSERT_TRUE(out.written) << out.failure;
    EXPECT_EQ(out.copy_file, rig.Folder() / "engine_report.csv");

    const GroupStatistics& s = out.stats;
    ASSERT_EQ(s.group_count, 2);
    EXPECT_EQ(s.wells[0], 48);
    EXPECT_EQ(s.wells[1], 48);
    EXPECT_EQ(testing::PresentBins(s).size(), 3u);
    for (int k : testing::PresentBins(s)) {
        // A busy beam counts a few dozen dips a minute; an empty one at most a stray count.
        EXPECT_GT(s.Mean(1, k), 20) << "bin " << k;
        EXPECT_GT(s.Mean(1, k), 5 * std::max(s.Mean(0, k), 1)) << "bin " << k;
    }
    const std::string text = testing::ReadFile(out.report_file);
    EXPECT_NE(text.find("\"SUBPROJECT:\",\"engine report\""), std::string::npos);
    EXPECT_NE(text.find("\"001_Busy\","), std::string::npos);
}

}  // namespace
}  // namespace lumivo::reporting
