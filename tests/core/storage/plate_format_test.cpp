#include "core/storage/plate_format.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/storage/installation.h"
#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

namespace {

const std::string kFallbackSuffix = " => Loading plate format from default: 384,96f or 96u...";

// Beams per well of a map: well -> number of channels in it.
std::map<int, int> BeamsPerWell(const PlateMap& p) {
    std::map<int, int> n;
    for (int ch = 0; ch < kChannelCount; ++ch)
        if (p.ChannelWell[static_cast<std::size_t>(ch)] >= 0)
            ++n[p.ChannelWell[static_cast<std::size_t>(ch)]];
    return n;
}

struct PlateFixture : DiskStorage {
    PlateMap plate;
    PlateFixture() { EXPECT_TRUE(EnsureInstallation(files, dir.path()).ok()); }
};

}  // namespace

TEST(PlateFormat, BuiltInNinetySixFlatPutsTwoBeamsInEachWell) {
    PlateMap p;
    BuildDefaultPlateMap("w96f", p);
    EXPECT_EQ(p.ChannelWell[0], 0);
    EXPECT_EQ(p.ChannelBeam[0], 0);
    EXPECT_EQ(p.ChannelWell[16], 0);
    EXPECT_EQ(p.ChannelBeam[16], 1);
    EXPECT_EQ(p.ChannelWell[1], kNoWell);
    EXPECT_EQ(p.WellChannel(0, 0), 0);  // channel 0 is a real channel
    EXPECT_EQ(p.WellChannel(0, 1), 16);
    EXPECT_EQ(p.MaxWellIndex, 95);
    EXPECT_EQ(p.MaxBeamIndex, 1);
    EXPECT_DOUBLE_EQ(p.ColumnOffset, 0.0);
    // Beam column c (even), beam row r (even) is well (c / 2) x 8 + r / 2.
    EXPECT_EQ(p.ChannelWell[6 * 16 + 10], 3 * 8 + 5);
    EXPECT_EQ(WellName(p, 0), "A1");
    EXPECT_EQ(WellName(p, 95), "H12");
    EXPECT_EQ(WellName(p, 3 * 8 + 5), "F4");
}

TEST(PlateFormat, BuiltInMapsHaveTheirShapes) {
    struct Case {
        const char* name;
        int wells, beams_per_well, max_beam;
        double column_offset;
    };
    const Case cases[] = {
        {"w384", 384, 1, 0, 0.0}, {"w96u", 96, 1, 0, -0.5}, {"w96f", 96, 2, 1, 0.0}};
    for (const auto& c : cases) {
        PlateMap p;
        BuildDefaultPlateMap(c.name, p);
        const auto n = BeamsPerWell(p);
        EXPECT_EQ(static_cast<int>(n.size()), c.wells) << c.name;
        for (const auto& [well, beams] : n) EXPECT_EQ(beams, c.beams_per_well) << c.name << well;
        EXPECT_EQ(p.MaxBeamIndex, c.max_beam) << c.name;
        EXPECT_DOUBLE_EQ(p.ColumnOffset, c.column_offset) << c.name;
        EXPECT_EQ(p.MaxWellIndex, c.wells - 1) << c.name;
    }
}

TEST(PlateFormat, ShippedFilesMatchTheBuiltInMaps) {
    PlateFixture f;
    for (const char* name : {"w384", "w96f", "w96u"}) {
        PlateMap from_file;
        ReadPlateFormatFile(f.ctx, name, from_file);
        PlateMap built;
        BuildDefaultPlateMap(name, built);
        EXPECT_EQ(from_file.ChannelWell, built.ChannelWell) << name;
        EXPECT_EQ(from_file.ChannelBeam, built.ChannelBeam) << name;
        EXPECT_EQ(from_file.PlateRows, built.PlateRows) << name;
        EXPECT_DOUBLE_EQ(from_file.RowOffset, built.RowOffset) << name;
        EXPECT_DOUBLE_EQ(from_file.ColumnOffset, built.ColumnOffset) << name;
        EXPECT_EQ(from_file.MaxBeamIndex, built.MaxBeamIndex) << name;
    }
}

TEST(PlateFormat, ShippedFilesHoldTheBeamCountsTheirDescriptionsPromise) {
    struct Case {
        const char* name;
        int rows, columns, min_beams, max_beams;
    };
    const Case cases[] = {{"w384", 16, 24, 1, 1},  {"w96f", 8, 12, 2, 2}, {"w96u", 8, 12, 1, 1},
                          {"w48", 6, 8, 1, 3},     {"w24", 4, 6, 4, 4},   {"w6", 2, 3, 30, 32},
                          {"w96flat", 8, 12, 4, 4}};
    PlateFixture f;
    for (const auto& c : cases) {
        PlateMap p;
        ASSERT_NO_THROW(ReadPlateFormatFile(f.ctx, c.name, p)) << c.name;
        EXPECT_EQ(p.PlateRows, c.rows) << c.name;
        EXPECT_EQ(p.PlateColumns, c.columns) << c.name;
        const auto n = BeamsPerWell(p);
        EXPECT_EQ(static_cast<int>(n.size()), c.rows * c.columns) << c.name;  // no empty well
        for (const auto& [well, beams] : n) {
            EXPECT_GE(beams, c.min_beams) << c.name << " well " << well;
            EXPECT_LE(beams, c.max_beams) << c.name << " well " << well;
            // Beams of a well are numbered 0..n-1 and WellChannel finds each of them.
            std::set<int> seen;
            for (int b = 0; b < beams; ++b) {
                const int ch = p.WellChannel(well, b);
                ASSERT_GE(ch, 0) << c.name << " well " << well << " beam " << b;
                EXPECT_EQ(p.ChannelWell[static_cast<std::size_t>(ch)], well);
                seen.insert(ch);
            }
            EXPECT_EQ(static_cast<int>(seen.size()), beams);
            EXPECT_EQ(p.WellChannel(well, beams), kNoChannel);  // fewer beams than the max
        }
        EXPECT_FALSE(PlateFormatDescription(c.name).empty()) << c.name;
    }
    EXPECT_EQ(PlateFormatDescription("w96flat"),
              "96 Wells flat bottom [4microbeams/well]\r\nUSE 'W384' or 'W96x4' plate "
              "Adapter\r\nNOTE: DISCONTINUED. Contact provider");
}

TEST(PlateFormat, MissingFileFallsBackWithTheExactMessage) {
    struct Case {
        std::string format, after;
    };
    const Case cases[] = {
        {"w48", "w96f"},  {"96f", "w96f"},       {"w96u", "w96u"},
        {"w384", "w384"}, {"../config", "w96f"},  // never opened
    };
    for (const auto& c : cases) {
        DiskStorage s;  // an empty installation folder: no plate files at all
        PlateMap p;
        std::string format = c.format;
        EXPECT_FALSE(LoadPlateFormat(s.ctx, format, p));
        EXPECT_EQ(format, c.after);
        // The real path of the file, what was wrong and which map is used instead.
        const std::string file = (s.dir / (c.format + ".dat")).string();
        ASSERT_EQ(s.dialogs.Messages().size(), 1u);
        const std::string msg = s.dialogs.Messages()[0];
        EXPECT_EQ(msg.rfind("Error [" + file + "] ID#0" + kFallbackSuffix + "\r\n", 0), 0u) << msg;
        EXPECT_NE(msg.find("The built-in " + c.after + " map is used"), std::string::npos) << msg;
        EXPECT_EQ(msg.find('\\'), std::string::npos) << msg;
        if (c.format == "96f") {
            EXPECT_NE(msg.find("Cannot open " + file + ": No such file or directory"),
                      std::string::npos)
                << msg;
        }
        PlateMap built;
        BuildDefaultPlateMap(c.after, built);
        EXPECT_EQ(p.ChannelWell, built.ChannelWell) << c.format;
    }
}

namespace {

// The shipped w96f file (channel 0 on line 5, channel c on line 5 + c) with lines replaced or
// the file cut after `keep` lines.
std::string NinetySixFlatText(const std::map<int, std::string>& lines, int keep = 1000) {
    PlateMap p;
    BuildDefaultPlateMap("w96f", p);
    const std::string all = FormatPlateFile(p, "t", "t");
    std::string out;
    int n = 0;
    for (std::size_t pos = 0; pos < all.size() && n < keep;) {
        const std::size_t end = all.find("\r\n", pos);
        ++n;
        const auto it = lines.find(n);
        out += (it != lines.end() ? it->second : all.substr(pos, end - pos)) + "\r\n";
        pos = end + 2;
    }
    return out;
}

}  // namespace

TEST(PlateFormat, MalformedFilesGiveTheirStageTheLineAndTheDefault) {
    const std::string head = "\"t\"\r\n\"t\"\r\n";
    const std::string geometry = "8,2,-0.5,12,2,0\r\n\"<Channel>, <Well>, <Beam>\"\r\n";
    struct Case {
        std::string content;
        int stage;
        std::string what;  // part of the message's second line
    };
    const Case cases[] = {
        {"", 1, "unexpected end of file"},
        {head + "8,2,x,12,2,0\r\n", 1, "line 3: \"x\" is not a number"},
        {head + "0,2,0,12,2,0\r\n\"h\"\r\n", 1, "a plate of 0 x 12 wells"},  // no rows
        {head + "16,1,0,48,1,0\r\n\"h\"\r\n", 1, "16 x 48"},  // more wells than beams
        {head + geometry + "0,0,0\r\n1,96,0\r\n", 2, "line 6: channel 1: well 96 outside"},
        {head + geometry + "0,0,0\r\n1,0,384\r\n", 2, "line 6: channel 1: beam 384 of well A1"},
        {head + geometry + "0,0,0\r\n1,-2,0\r\n", 2, "line 6: channel 1: well -2"},
        {head + geometry + "0,0,0\r\n1,0\r\n", 2, "line 6: a channel record needs 3 fields"},
        {head + geometry + "0,\"0\r\n", 2, "line 5: unterminated"},
        // A beam number no well of the plate has.
        {NinetySixFlatText({{21, "16,0,99"}}), 2,
         "line 21: channel 16 is beam 99 of well A1, which has 2 beams (numbered from 0)"},
        // A file cut to 100 of its 388 lines.
        {NinetySixFlatText({}, 100), 2,
         "the file ends after line 100 with 96 of the 384 channel records: channels 96 to 383"},
        // Two channels on the same well and beam.
        {NinetySixFlatText({{21, "16,0,0"}}), 2,
         "line 21: channel 16 is beam 0 of well A1, which channel 0 already is (line 5)"},
        // A channel column that does not match the line.
        {NinetySixFlatText({{21, "61,0,1"}}), 2, "line 21: channel 61 where channel 16 belongs"},
    };
    for (const auto& c : cases) {
        DiskStorage s;
        WriteBytes(s.dir / "w48.dat", c.content);
        PlateMap p;
        std::string format = "w48";
        EXPECT_FALSE(LoadPlateFormat(s.ctx, format, p)) << c.what;
        ASSERT_EQ(s.dialogs.Messages().size(), 1u) << c.what;
        const std::string msg = s.dialogs.Messages()[0];
        EXPECT_EQ(msg.rfind("Error [" + (s.dir / "w48.dat").string() + "] ID#" +
                                std::to_string(c.stage) + kFallbackSuffix + "\r\n",
                            0),
                  0u)
            << msg;
        EXPECT_NE(msg.find(c.what), std::string::npos) << msg;
        EXPECT_EQ(format, "w96f");
        EXPECT_EQ(p.MaxBeamIndex, 1);
    }
    // Lines after the 384th record are ignored; so are fields after the third.
    DiskStorage s;
    WriteBytes(s.dir / "w48.dat", NinetySixFlatText({{5, "0,0,0,extra"}}) + "384,0,7\r\n");
    PlateMap p;
    EXPECT_NO_THROW(ReadPlateFormatFile(s.ctx, "w48", p));
    EXPECT_EQ(p.MaxBeamIndex, 1);
}

TEST(PlateFormat, ReadingIsAllOrNothing) {
    DiskStorage s;
    PlateMap p;
    BuildDefaultPlateMap("w96f", p);
    // A failing read passes its error on and leaves the map as it was.
    WriteBytes(s.dir / "w3.dat", "\"t\"\r\n\"t\"\r\n4,1,0,6,1,0\r\n\"h\"\r\n0,1,0\r\n1,x,0\r\n");
    WriteBytes(s.dir / "w2.dat",
               "\"t\"\r\n\"t\"\r\n16,1,0,24,1,0\r\n\"h\"\r\n0,200,0\r\n1,201,0\r\n");
    const PlateMap before = p;
    for (const char* name : {"w3", "w2", "missing"}) {
        int stage = -1;
        EXPECT_THROW(ReadPlateFormatFile(s.ctx, name, p, &stage), StorageError) << name;
        EXPECT_EQ(stage, std::string(name) == "missing" ? 0 : 2) << name;
        EXPECT_EQ(p.ChannelWell, before.ChannelWell) << name;
        EXPECT_EQ(p.PlateRows, before.PlateRows) << name;
    }
    EXPECT_TRUE(s.dialogs.shown().empty());  // no messages without the fallback
}

TEST(PlateFormat, WellChannelAnswersNoChannelOutsideTheTable) {
    PlateMap p;
    BuildDefaultPlateMap("w96u", p);
    EXPECT_EQ(p.WellChannel(-1, 0), kNoChannel);
    EXPECT_EQ(p.WellChannel(96, 0), kNoChannel);
    EXPECT_EQ(p.WellChannel(0, 1), kNoChannel);
    EXPECT_EQ(p.WellChannel(0, 0), 0);
    EXPECT_TRUE(IsValidPlateFormatName("w96flat"));
    for (const char* bad : {"", "..", "a/b", "a\\b", "w96f.dat", "x y"})
        EXPECT_FALSE(IsValidPlateFormatName(bad)) << bad;
}

TEST(PlateFormat, FormatterWritesWhatTheReaderReads) {
    DiskStorage s;
    PlateMap p;
    BuildDefaultPlateMap("w96f", p);
    WriteBytes(s.dir / "wcopy.dat", FormatPlateFile(p, "title", "second"));
    PlateMap q;
    ReadPlateFormatFile(s.ctx, "wcopy", q);
    EXPECT_EQ(q.ChannelWell, p.ChannelWell);
    EXPECT_EQ(q.ChannelBeam, p.ChannelBeam);
    EXPECT_EQ(ReadBytes(s.dir / "wcopy.dat").substr(0, 38),
              "\"title\"\r\n\"second\"\r\n8,2,-0.5,12,2,0\r\n\"<");
}
