// Basal normalisation: the BasalMinutes questions, the per-channel basal and its scaling, well
// averaging, the zero-basal questions and their three policies, percentages beyond 16 bits and
// the 10000 cap, discarded channels.
#include "core/reporting/report/basal.h"

#include <gtest/gtest.h>

#include "support/scripted_dialogs.h"

namespace lumivo::reporting {
namespace {

using lumivo::testing::ScriptedDialogs;

// Wells 0..3 hold channels 0..3 (one beam each), well 4 holds channels 4 and 5. Channels 0, 1
// are group 0, channels 2, 3 group 1, channels 4, 5 group 2. Channel 6 lies in no well but is in
// group 0; channel 7 lies in no well and no group; channel 8 is in well 5, free.
ReportInputs Plate() {
    ReportInputs in;
    in.plate_rows = 2;
    in.plate_columns = 3;
    in.max_well_index = 5;
    in.max_beam_index = 1;
    in.well_channel.assign(12, -1);
    auto place = [&](int channel, int well, int beam) {
        in.channel_well[static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(well);
        in.well_channel[static_cast<std::size_t>(well * 2 + beam)] =
            static_cast<std::int16_t>(channel);
    };
    for (int c = 0; c < 4; ++c) place(c, c, 0);
    place(4, 4, 0);
    place(5, 4, 1);
    place(8, 5, 0);
    const int groups[] = {0, 0, 1, 1, 2, 2, 0, -1, -1};
    for (int c = 0; c < 9; ++c)
        in.channel_group[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(groups[c]);
    for (int w = 0; w < 6; ++w) in.well_names.push_back("W" + std::to_string(w));
    return in;
}

// Three bins (30, 60, 90) where channel c counts counts[c][k].
BinTable Bins(const std::vector<std::array<std::int32_t, 3>>& counts) {
    BinTable b;
    b.Resize(3);
    for (std::size_t k = 0; k < 3; ++k) b.minutes[k] = static_cast<std::int32_t>(30 * (k + 1));
    b.present.assign(3, 1);
    for (std::size_t c = 0; c < counts.size(); ++c)
        for (std::size_t k = 0; k < 3; ++k) b.count(k, c) = counts[c][k];
    return b;
}

std::vector<std::int64_t> Basal(const std::vector<std::int64_t>& first) {
    std::vector<std::int64_t> b(kChannelTableSize, 0);
    std::copy(first.begin(), first.end(), b.begin());
    return b;
}

TEST(Basal, MinutesAreAskedOnlyForLongBasalAcquisitions) {
    struct Case {
        std::int32_t basal_length;
        std::int32_t bin;
        std::vector<std::optional<std::string>> answers;
        std::optional<std::int32_t> expected;
        std::vector<std::string> prompts;  // "1" = the first box, "2" = the second
    };
    const Case cases[] = {
        {30, 30, {}, 30, {}},  // a 40-minute basal re-binned at 30 minutes
        {45, 30, {}, 30, {}},  // 1.5 x 30 >= 45
        {60, 30, {"50"}, 50, {"1"}},
        {60, 30, {" 60 "}, 60, {"1"}},
        {60, 30, {"abc", "10", "40"}, 40, {"1", "2", "1"}},
        {60, 30, {"29", "61", "30.5", "30"}, 30, {"1", "2", "1", "2"}},
        {60, 30, {std::nullopt}, std::nullopt, {"1"}},
        {60, 30, {"5", std::nullopt}, std::nullopt, {"1", "2"}},
    };
    const std::string first =
        "Basal acquisition is 60min long, and BinSize=30min. \r\n\r\n"
        "How many minutes do you want to use to calculate Basal Measurement?";
    const std::string second = "Enter a value between 30 and 60";
    for (const Case& c : cases) {
        ScriptedDialogs d;
        for (const auto& a : c.answers) d.QueueInput(a);
        EXPECT_EQ(ChooseBasalMinutes(d, c.basal_length, c.bin), c.expected) << c.basal_length;
        std::vector<std::string> prompts;
        for (const auto& s : d.shown()) {
            EXPECT_EQ(s.title, "Basal Calculation");
            prompts.push_back(s.text == first ? "1" : s.text == second ? "2" : s.text);
        }
        EXPECT_EQ(prompts, c.prompts);
        EXPECT_TRUE(d.AllAnswersUsed());
    }
}

TEST(Basal, ChannelBasalSumsUpToTheBasalMinutesAndScalesToOneBin) {
    BinTable basal = Bins({{10, 20, 30}, {7, 0, 0}, {3, 3, 3}});
    const auto at30 = ChannelBasal(basal, 30, 30, 90);
    EXPECT_EQ(at30[0], 10);
    const auto at60 = ChannelBasal(basal, 60, 30, 90);
    EXPECT_EQ(at60[0], 15);  // (10 + 20) x 30 / 60
    EXPECT_EQ(at60[2], 3);
    const auto at90 = ChannelBasal(basal, 90, 30, 90);
    EXPECT_EQ(at90[0], 20);  // 60 x 30 / 90
    // A basal shorter than a bin is scaled up to a bin, rounded half to even: 7 x 30 / 20.
    const auto short_basal = ChannelBasal(basal, 30, 30, 20);
    EXPECT_EQ(short_basal[1], 10);
    // A basal bin the recording does not cover is not a bin of no activity: the basal is the
    // mean of the bins that were recorded.
    basal.present[1] = 0;
    const auto with_gap = ChannelBasal(basal, 90, 30, 90);
    EXPECT_EQ(with_gap[0], 20);  // (10 + 30) / 2, not (10 + 0 + 30) / 3
    EXPECT_EQ(with_gap[2], 3);
}

TEST(Basal, WellsAreAveragedAndCountsBecomePercentages) {
    ReportInputs in = Plate();
    BinTable bins = Bins({{100, 400, 50},  // ch0: basal 4 -> 2500, 10000, 1250
                          {400, 500, 0},   // ch1: basal 300 -> 133, 167, 0 (beyond 16 bits)
                          {10, 20, 30},    // ch2: basal 10
                          {500, 600, 1},   // ch3: basal 4 -> capped at 10000
                          {30, 30, 30},    // ch4, ch5: one well: mean 45, basal 15
                          {60, 60, 60},
                          {5, 5, 5},    // ch6: no well, basal 10
                          {9, 9, 9},    // ch7: no well, no group, basal 0
                          {8, 8, 8}});  // ch8: free well, basal 4
    ScriptedDialogs d;
    const BasalOutcome out =
        NormaliseToBasal(d, in, bins, Basal({4, 300, 10, 4, 10, 20, 10, 0, 4}));
    ASSERT_TRUE(out.proceed);
    EXPECT_EQ(out.zero_wells, 0);
    EXPECT_EQ(out.errors, 0);
    EXPECT_TRUE(d.shown().empty());
    const std::vector<std::array<std::int32_t, 3>> expected = {
        {2500, 10000, 1250}, {133, 167, 0}, {100, 200, 300},    {10000, 10000, 25}, {300, 300, 300},
        {300, 300, 300},     {50, 50, 50},  {-999, -999, -999}, {200, 200, 200}};
    for (std::size_t c = 0; c < expected.size(); ++c)
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(bins.count(k, c), expected[c][k]) << "channel " << c << " bin " << k;
    EXPECT_EQ(in.channel_group[7], -1);
    EXPECT_EQ(in.channel_group[0], 0);
}

TEST(Basal, ZeroBasalWellsFollowTheChosenPolicy) {
    // Channel 0 (well 0, group 0) has no basal activity; the others have 20, 40, 60, 30 and 30.
    // In the main acquisition channel 0 counts 30, 60, 90, or nothing at all (an empty well).
    const std::vector<std::int64_t> basal = {0, 20, 40, 60, 20, 40};
    struct Case {
        MsgResult answer;
        ZeroBasalPolicy policy;
        std::array<std::int32_t, 3> main0;
        std::array<std::int32_t, 3> channel0;
        int errors;
    };
    const Case cases[] = {
        // Yes: the channel's largest count (90) is its basal.
        {MsgResult::Yes, ZeroBasalPolicy::Maximum, {30, 60, 90}, {33, 67, 100}, 0},
        // No: the mean basal of the grouped channels in wells, zeros included:
        // (0 + 20 + 40 + 60 + 30 + 30) / 6 = 30.
        {MsgResult::No, ZeroBasalPolicy::PlateAverage, {30, 60, 90}, {100, 200, 300}, 0},
        // Cancel: discarded.
        {MsgResult::Cancel, ZeroBasalPolicy::Discard, {30, 60, 90}, {-999, -999, -999}, 1},
        // An empty well: Yes keeps it in its group at 0 % (its largest count is 0; it used to
        // be discarded as if Cancel had been chosen), No also gives 0 %, Cancel discards it.
        {MsgResult::Yes, ZeroBasalPolicy::Maximum, {0, 0, 0}, {0, 0, 0}, 0},
        {MsgResult::No, ZeroBasalPolicy::PlateAverage, {0, 0, 0}, {0, 0, 0}, 0},
        {MsgResult::Cancel, ZeroBasalPolicy::Discard, {0, 0, 0}, {-999, -999, -999}, 1},
    };
    for (const Case& c : cases) {
        ReportInputs in = Plate();
        BinTable bins =
            Bins({c.main0, {20, 20, 20}, {40, 40, 40}, {60, 60, 60}, {30, 30, 30}, {30, 30, 30}});
        ScriptedDialogs d;
        d.QueueAnswer(MsgResult::Yes);
        d.QueueAnswer(c.answer);
        const BasalOutcome out = NormaliseToBasal(d, in, bins, Basal(basal));
        ASSERT_TRUE(out.proceed);
        EXPECT_EQ(out.zero_wells, 1);
        EXPECT_EQ(out.policy, c.policy);
        EXPECT_EQ(out.errors, c.errors);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(bins.count(k, 0), c.channel0[k]);
        EXPECT_EQ(bins.count(0, 1), 100);
        ASSERT_GE(d.shown().size(), 2u);
        EXPECT_EQ(d.shown()[0].text, "You have 1 BASAL WELLS with 0 activity. Proceed anyway??");
        EXPECT_EQ(d.shown()[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(d.shown()[1].text,
                  "For ZERO Activity Basal Wells:\r\n"
                  "[YES] to replace <BASAL Well> with <MAX Well Activity>\r\n"
                  "[NO] to replace <BASAL Well> with <BASAL Microplate Average>\r\n"
                  "[CANCEL] to DISCARD Well in Calculation\r\n"
                  "TO BE APPLIED TO ALL 0 ACTIVITY BASAL WELLs");
        EXPECT_EQ(d.shown()[1].buttons, MsgButtons::YesNoCancel);
        // The arithmetic alone, without a question, gives the same tables for that policy.
        ReportInputs pure_in = Plate();
        BinTable pure =
            Bins({c.main0, {20, 20, 20}, {40, 40, 40}, {60, 60, 60}, {30, 30, 30}, {30, 30, 30}});
        std::vector<std::int64_t> pure_basal = Basal(basal);
        EXPECT_EQ(AverageOverWells(pure_in, pure, pure_basal), 1);
        EXPECT_EQ(ApplyBasal(pure_in, pure, pure_basal, c.policy), c.errors);
        EXPECT_EQ(pure.counts, bins.counts);
        EXPECT_EQ(pure_in.channel_group, in.channel_group);
        if (c.errors > 0) {
            EXPECT_EQ(in.channel_group[0], -1);
            EXPECT_EQ(d.Messages().back(),
                      "ERROR in 1 BASAL channels.\r\nChannels were discarded and transferred to "
                      "Free Group");
        } else {
            EXPECT_EQ(in.channel_group[0], 0);
            EXPECT_EQ(d.shown().size(), 2u);
        }
    }
}

TEST(Basal, DecliningZeroBasalWellsEndsTheRunAndFreeWellsAreNotAsked) {
    ReportInputs in = Plate();
    BinTable bins = Bins({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
    ScriptedDialogs d;
    d.QueueAnswer(MsgResult::No);
    EXPECT_FALSE(NormaliseToBasal(d, in, bins, Basal({0, 0, 5, 5, 5, 5})).proceed);
    EXPECT_EQ(d.shown().size(), 1u);
    EXPECT_EQ(d.shown()[0].text, "You have 2 BASAL WELLS with 0 activity. Proceed anyway??");

    // Only the free well (channel 8) has no basal: nothing is asked, and its counts are -999.
    ReportInputs in2 = Plate();
    BinTable bins2 = Bins({{1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1},
                           {1, 1, 1}});
    ScriptedDialogs d2;
    const BasalOutcome out = NormaliseToBasal(d2, in2, bins2, Basal({1, 1, 1, 1, 1, 1, 1, 1, 0}));
    EXPECT_TRUE(out.proceed);
    EXPECT_EQ(out.zero_wells, 0);
    EXPECT_EQ(out.errors, 0);
    EXPECT_TRUE(d2.shown().empty());
    EXPECT_EQ(bins2.count(0, 8), kDiscardedCount);
}

TEST(Basal, PlateAverageOfZeroDiscardsEveryZeroChannel) {
    ReportInputs in = Plate();
    BinTable bins = Bins({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
    ScriptedDialogs d;
    d.QueueAnswer(MsgResult::Yes);
    d.QueueAnswer(MsgResult::No);
    const BasalOutcome out = NormaliseToBasal(d, in, bins, Basal({0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(out.proceed);
    EXPECT_EQ(out.zero_wells, 5);
    EXPECT_EQ(out.errors, 6);
    EXPECT_EQ(
        d.Messages().back(),
        "ERROR in 6 BASAL channels.\r\nChannels were discarded and transferred to Free Group");
    for (int c = 0; c < 6; ++c) EXPECT_EQ(in.channel_group[static_cast<std::size_t>(c)], -1);
}

TEST(Basal, BasalLineNamesASiblingAcquisitionFolder) {
    EXPECT_EQ(BasalFolderName("20260310_0900 Baseline"), "20260310_0900");
    EXPECT_EQ(BasalFolderName("20260310_0900"), "20260310_0900");
    for (const char* bad : {"../../../etc/x", "2026031a_0900 x", "20260310-0900 x",
                            "/tmp/20260310_0900", "20260310_09"})
        EXPECT_EQ(BasalFolderName(bad), std::nullopt) << bad;
    EXPECT_FALSE(WantsBasal("-"));
    EXPECT_FALSE(WantsBasal(""));
    EXPECT_FALSE(WantsBasal("20260310_090"));
    EXPECT_TRUE(WantsBasal("20260310_0900"));
}

}  // namespace
}  // namespace lumivo::reporting
