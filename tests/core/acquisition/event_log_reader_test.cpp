// Reading events.log back: the zone the recorder logged, the instrument's losses, the
// interruptions of the recorder and the windows it could not record.
#include "core/acquisition/event_log_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "core/platform/ui_port.h"

namespace lumivo {
namespace {

std::int64_t At(int y, int mo, int d, int h, int mi, int s = 0) {
    return CivilDayNumber(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

TEST(EventLogReader, TimeZoneTextsRoundTripAndDamagedOnesAreRefused) {
    LocalDateTime t;
    t.utc_offset_minutes = 60;
    t.zone = "CET";
    EXPECT_EQ(TimeZoneText(t), "UTC+01:00 (CET)");
    t.utc_offset_minutes = -210;
    t.zone.clear();
    EXPECT_EQ(TimeZoneText(t), "UTC-03:30");
    t.utc_offset_minutes = 0;
    EXPECT_EQ(TimeZoneText(t), "UTC+00:00");

    struct Case {
        const char* text;
        bool ok;
        int offset;
        const char* name;
    };
    const Case cases[] = {
        {"UTC+01:00 (CET)", true, 60, "CET"},
        {"UTC-03:30", true, -210, ""},
        {"UTC+05:45 (+0545)", true, 345, "+0545"},
        {"UTC+1:00", false, 0, ""},
        {"GMT+01:00", false, 0, ""},
        {"UTC+25:00", false, 0, ""},
        {"UTC+01:75", false, 0, ""},
        {"UTC", false, 0, ""},
    };
    for (const Case& c : cases) {
        const auto z = ParseTimeZoneText(c.text);
        ASSERT_EQ(z.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(z->utc_offset_minutes, c.offset) << c.text;
        EXPECT_EQ(z->name, c.name) << c.text;
    }
}

TEST(EventLogReader, ASummerTimeChangeMovesNoStampOfTheAxis) {
    // The clocks go forward at 02:00 CET to 03:00 CEST: one hour of the run, not two.
    const std::string log =
        "2026-03-29 01:00:00  Time zone: UTC+01:00 (CET)\r\n"
        "2026-03-29 01:00:00  Sampling started\r\n"
        "2026-03-29 01:30:00  Paused, time counter stopped, at 00:30:00 [0d]\r\n"
        "2026-03-29 01:40:00  Resumed after a pause of 00:10:00 [0d] (not counted in the "
        "lapse)\r\n"
        "2026-03-29 03:00:00  Time zone: UTC+02:00 (CEST)\r\n"
        "2026-03-29 03:10:00  Acquisition finished\r\n";
    const RunLog run = ParseRunLog(log);
    ASSERT_EQ(run.zones.size(), 2u);
    EXPECT_EQ(run.start, At(2026, 3, 29, 1, 0));
    ASSERT_TRUE(run.end);
    // 03:10 CEST is 02:10 on the start's axis.
    EXPECT_EQ(*run.end, At(2026, 3, 29, 2, 10));
    EXPECT_EQ(run.zones[1].second, At(2026, 3, 29, 2, 0));
    EXPECT_EQ(run.UtcOffsetAt(At(2026, 3, 29, 1, 59)), 60);
    EXPECT_EQ(run.UtcOffsetAt(At(2026, 3, 29, 2, 0)), 120);
    EXPECT_EQ(run.UtcSecond(run.start), At(2026, 3, 29, 0, 0));
    // 70 minutes of run less the 10 frozen ones.
    EXPECT_DOUBLE_EQ(ElapsedMinutesAt(run, *run.end), 60.0);

    // A log written before zones were logged keeps its stamps as they are.
    const RunLog old = ParseRunLog(
        "2026-03-29 01:00:00  Sampling started\r\n2026-03-29 03:10:00  Acquisition stopped\r\n");
    EXPECT_TRUE(old.zones.empty());
    EXPECT_FALSE(old.UtcOffsetAt(old.start));
    EXPECT_EQ(old.UtcSecond(old.start), old.start);
    EXPECT_DOUBLE_EQ(ElapsedMinutesAt(old, *old.end), 130.0);
}

TEST(EventLogReader, LossesInterruptionsAndWindowsNotRecorded) {
    const std::string log =
        "2026-03-14 09:30:00  Time zone: UTC+00:00 (UTC)\r\n"
        "2026-03-14 09:30:00  Sampling started\r\n"
        "2026-03-14 10:00:00  Instrument lost: read failed (Input/output error) on COM3\r\n"
        "2026-03-14 10:00:35  Instrument reconnected on COM3 after 35 s: 1 window lost\r\n"
        "2026-03-14 10:00:35  Windows not recorded: 1 (minutes 30 to 31): the instrument was "
        "lost\r\n"
        "2026-03-14 11:00:00  Instrument lost: the port vanished on COM3\r\n"
        "2026-03-14 11:00:00  ALARM: NO VALID DATA from the instrument for 3 s\r\n"
        // The recorder died here; 20 minutes later it is resumed.
        "2026-03-14 11:20:00  Recording resumed after an interruption: 20 min not observed\r\n"
        "2026-03-14 11:25:00  Windows not recorded: 12 (minutes 110 to 117): too few valid "
        "readings\r\n"
        "2026-03-14 11:30:00  Instrument lost: write failed on COM3\r\n";
    const RunLog run = ParseRunLog(log);
    ASSERT_EQ(run.instrument_lost.size(), 3u);
    EXPECT_EQ(run.instrument_lost[0].begin, At(2026, 3, 14, 10, 0));
    EXPECT_EQ(run.instrument_lost[0].end, At(2026, 3, 14, 10, 0, 35));
    EXPECT_TRUE(run.instrument_lost[0].ended);
    // The loss the recorder died in ends with its last line, the open one at the end of the log.
    EXPECT_EQ(run.instrument_lost[1].end, At(2026, 3, 14, 11, 0));
    EXPECT_FALSE(run.instrument_lost[1].ended);
    EXPECT_FALSE(run.instrument_lost[2].ended);
    ASSERT_EQ(run.silences.size(), 1u);
    EXPECT_FALSE(run.silences[0].ended);
    ASSERT_EQ(run.interruptions.size(), 1u);
    EXPECT_EQ(run.interruptions[0].begin, At(2026, 3, 14, 11, 0));
    EXPECT_EQ(run.interruptions[0].end, At(2026, 3, 14, 11, 20));
    EXPECT_EQ(run.windows_not_recorded, 13);
    EXPECT_FALSE(run.end);

    // The dead recorder's last line came long before its last record (minute 95, after a
    // 10-minute frozen pause): the interruption begins at that record, and the zone line the
    // resume writes first is no sign of the dead recorder.
    const RunLog later = ParseRunLog(
        "2026-03-14 09:30:00  Sampling started\r\n"
        "2026-03-14 09:40:00  Paused, time counter stopped, at 00:10:00 [0d]\r\n"
        "2026-03-14 09:50:00  Resumed after a pause of 00:10:00 [0d] (not counted in the "
        "lapse)\r\n"
        "2026-03-14 12:00:00  Time zone: UTC+00:00 (UTC)\r\n"
        "2026-03-14 12:00:00  Recording resumed after an interruption: \"x\" goes on at minute "
        "140 of 240, instrument LMVO00123 on COM1; 170 windows on disk are kept, the last at "
        "minute 95, so minutes 95 to 140 were not observed\r\n");
    ASSERT_EQ(later.interruptions.size(), 1u);
    EXPECT_EQ(later.interruptions[0].begin, At(2026, 3, 14, 11, 15));
    EXPECT_EQ(later.interruptions[0].end, At(2026, 3, 14, 12, 0));
}

}  // namespace
}  // namespace lumivo
