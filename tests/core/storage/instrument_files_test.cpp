// calvalue.dat, subproj.dat, repoconf.dat and the installation folder.
#include <gtest/gtest.h>

#include "core/storage/acquisition_register.h"
#include "core/storage/calibration_file.h"
#include "core/storage/installation.h"
#include "core/storage/report_config.h"
#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

namespace {

std::string CalFile(int lines, bool reversed = false) {
    std::string s = "\"<Num_Channel>, <PinHole>, <Gain> \"\r\n";
    for (int i = 0; i < lines; ++i)
        s += std::to_string(reversed ? 999 - i : i) + "," + std::to_string(i % 8) + ",5\r\n";
    return s;
}

const std::string kRepoHeader =
    "\"<User_defined>, <Bin>, <filetype>, <spacer>, <stdError>, <stdDev>, <n>, <out_format>, "
    "<organism>, <method>, <threshold>, <rawexport>\"\r\n";

}  // namespace

TEST(CalibrationFile, LoadThenSaveIsByteIdentical) {
    DiskStorage s;
    const std::string golden = ReadBytes(GoldenDir() / "calvalue.dat");
    WriteBytes(s.dir / "calvalue.dat", golden);
    CalibrationValues cal;
    EXPECT_TRUE(LoadCalibration(s.ctx, cal).empty());
    fs::remove(s.dir / "calvalue.dat");
    SaveCalibration(s.ctx, cal);
    EXPECT_EQ(ReadBytes(s.dir / "calvalue.dat"), golden);
}

TEST(CalibrationFile, RecordsAreTakenByPosition) {
    struct Case {
        int lines;
        bool reversed;
        int filled;  // entries replaced
    };
    for (const Case c : {Case{200, false, 200}, Case{400, false, 385}, Case{384, true, 384}}) {
        DiskStorage s;
        WriteBytes(s.dir / "calvalue.dat", CalFile(c.lines, c.reversed));
        CalibrationValues cal;
        cal.Gain.fill(1);
        LoadCalibration(s.ctx, cal);
        EXPECT_EQ(cal.Gain[static_cast<std::size_t>(c.filled - 1)], 5) << c.lines;
        if (c.filled < 385) {
            EXPECT_EQ(cal.Gain[static_cast<std::size_t>(c.filled)], 1) << c.lines;
        }
        EXPECT_EQ(cal.PinHole[9], 1);  // line 10 is channel 9 whatever number it carries
    }
}

TEST(CalibrationFile, ValuesThatDoNotFitTheRegisterGetTheFirstTimeSettings) {
    DiskStorage s;
    // Line 6 carries a fourth field, which is ignored.
    WriteBytes(s.dir / "calvalue.dat",
               "\"h\"\r\n0,7,7\r\n1,32,0\r\n2,3,8\r\n3,-1,2\r\n4,31,0,9\r\n");
    CalibrationValues cal;
    EXPECT_EQ(LoadCalibration(s.ctx, cal), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(cal.PinHole[1], kFirstPinHole);
    EXPECT_EQ(cal.Gain[2], kFirstGain);
    EXPECT_EQ(cal.PinHole[4], 31);
    ASSERT_EQ(s.dialogs.Messages().size(), 1u);
    EXPECT_NE(s.dialogs.Messages()[0].find("channel 1, 2, 3"), std::string::npos);
}

TEST(CalibrationFile, ErrorsGoToTheCallerWithTheTablesUnchanged) {
    for (const std::string& content : {std::string(), std::string("\"h\"\r\n0,2\r\n"),
                                       std::string("\"h\"\r\n0,2,3\r\n1,two,3\r\n")}) {
        DiskStorage s;
        if (!content.empty()) WriteBytes(s.dir / "calvalue.dat", content);
        CalibrationValues cal;
        cal.PinHole.fill(6);
        EXPECT_THROW(LoadCalibration(s.ctx, cal), StorageError);
        EXPECT_EQ(cal.PinHole[0], 6);
    }
    DiskStorage s;
    StorageContext below_file{s.dir / "x", s.dialogs, s.files};
    WriteBytes(s.dir / "x", "a file");
    CalibrationValues cal;
    EXPECT_THROW(ResetCalibration(below_file, cal), StorageError);
    ResetCalibration(s.ctx, cal);
    EXPECT_NE(ReadBytes(s.dir / "calvalue.dat").find("\r\n0,2,3\r\n"), std::string::npos);
}

TEST(AcquisitionRegister, FolderCopyAndRegisterAreWrittenTogether) {
    DiskStorage s;
    ProjectState project;
    project.ProjectFolder = s.dir / "p00002";
    fs::create_directories(project.ProjectFolder);
    const std::string plate_map =
        "well,treatment,concentration,unit,role,genotype\nA1,DMSO,,,negative,N2\n";
    WriteBytes(project.ProjectFolder / "wells.csv", plate_map);
    const LocalDateTime t{2024, 3, 7, 9, 5, 42, 0};
    EXPECT_EQ(AcquisitionFolderName(t), "20240307_0905");
    EXPECT_EQ(CreateAcquisitionFolder(s.ctx, 2, project, t, "Dose, \"B\"", "Plate 1"),
              "20240307_0905");
    const fs::path acq = project.ProjectFolder / "20240307_0905";
    for (const char* f : {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
        EXPECT_TRUE(fs::is_regular_file(acq / f)) << f;
    EXPECT_EQ(ReadBytes(acq / "subproj.dat"), "\"Dose, \"\"B\"\"\"\r\n\"Plate 1\"\r\n");
    EXPECT_EQ(ReadBytes(acq / "wells.csv"), plate_map);  // the plate map goes with them
    EXPECT_EQ(ReadAcquisitionTitle(s.ctx, acq), "Dose, \"B\"");
    EXPECT_EQ(project.ProjectFolder, s.dir / "p00002");

    // A second start in the same minute reuses the folder and overwrites the register.
    CreateAcquisitionFolder(s.ctx, 2, project, {2024, 3, 7, 9, 5, 59, 0}, "Second", "");
    EXPECT_EQ(ReadAcquisitionTitle(s.ctx, acq), "Second");

    EXPECT_THROW(CreateAcquisitionFolder(s.ctx, 2, project, {2024, 3, 7, 9, 6, 0, 0}, "a\nb", ""),
                 StorageError);
    EXPECT_FALSE(fs::exists(project.ProjectFolder / "20240307_0906"));  // refused before creating
}

TEST(AcquisitionRegister, ReadAndRename) {
    DiskStorage s;
    fs::copy_file(GoldenDir() / "subproj.dat", s.dir / "subproj.dat");
    EXPECT_EQ(ReadAcquisitionTitle(s.ctx, s.dir.path()), "Dose response, day 3");
    EXPECT_EQ(RenameAcquisition(s.ctx, s.dir.path(), "Day 3, repeat"), "Day 3, repeat");
    EXPECT_EQ(ReadBytes(s.dir / "subproj.bak"), ReadBytes(GoldenDir() / "subproj.dat"));
    EXPECT_EQ(ReadBytes(s.dir / "subproj.dat"), "\"Day 3, repeat\"\r\n\"Plate B; 20 C\"\r\n");

    TempDir other;
    EXPECT_EQ(ReadAcquisitionTitle(s.ctx, other.path()), "");
    EXPECT_EQ(RenameAcquisition(s.ctx, other.path(), "X"), "X");  // no register: nothing
    EXPECT_FALSE(fs::exists(other / "subproj.dat"));

    WriteBytes(other / "subproj.dat", "\"only a name\"\r\n");
    EXPECT_EQ(RenameAcquisition(s.ctx, other.path(), "Y"), "");  // no description to keep
    EXPECT_EQ(ReadBytes(other / "subproj.dat"), "\"only a name\"\r\n");
    WriteBytes(other / "subproj.dat", "\"broken\r\n");
    EXPECT_EQ(ReadAcquisitionTitle(s.ctx, other.path()), "");

    // A backup that cannot be written (a full disk, a folder that cannot be written; here a
    // folder in its place) shows "error" and says which file and why.
    fs::remove(other / "subproj.bak");
    fs::create_directories(other / "subproj.bak" / "x");
    WriteBytes(other / "subproj.dat", "\"a\"\r\n\"b\"\r\n");
    EXPECT_EQ(RenameAcquisition(s.ctx, other.path(), "Z"), "");
    ASSERT_EQ(s.dialogs.Messages().size(), 2u);
    // The register without a description was not renamed either, and that is said.
    EXPECT_EQ(s.dialogs.Messages()[0].rfind(
                  "error: the acquisition was not renamed: " + (other / "subproj.dat").string() +
                      " does not hold a name line and a "
                      "description line (",
                  0),
              0u)
        << s.dialogs.Messages()[0];
    EXPECT_EQ(s.dialogs.Messages()[1].rfind(
                  "error: the acquisition was not renamed: " + (other / "subproj.bak").string() +
                      " could not be written (",
                  0),
              0u)
        << s.dialogs.Messages()[1];
    EXPECT_EQ(ReadBytes(other / "subproj.dat"), "\"a\"\r\n\"b\"\r\n");
}

TEST(ReportConfigFile, LoadThenSaveIsByteIdentical) {
    DiskStorage s;
    const std::string golden = ReadBytes(GoldenDir() / "repoconf.dat");
    WriteBytes(s.dir / "repoconf.dat", golden);
    ReportSettings r;
    EXPECT_EQ(LoadReportConfig(s.ctx, r, 1), 1);
    EXPECT_EQ(r.config.spacer, ";");
    EXPECT_EQ(r.config.Bin, 60);
    fs::remove(s.dir / "repoconf.dat");
    EXPECT_TRUE(SaveReportConfig(s.ctx, r, 1));
    EXPECT_EQ(ReadBytes(s.dir / "repoconf.dat"), golden);
}

TEST(ReportConfigFile, ValuesOutsideTheirRangeTakeTheirDefaults) {
    struct Case {
        std::string line2;
        std::int16_t bin, threshold, method;
    };
    const Case cases[] = {
        {"1,1,0,\",\",1,0,1,0,0,1,18,0", 30, 18, 1},
        {"1,1441,0,\",\",1,0,1,0,0,1,10,0", 30, 18, 1},
        {"1,2,0,\",\",1,0,1,0,0,3,31,0", 2, 18, 1},
        {"1,1440,0,\",\",1,0,1,0,0,2,11,0", 1440, 11, 2},
        {"1,60,0,\",\",1,0,1,0,0,2,20,0,1,\"x\"", 60, 20, 2},  // extra fields ignored
    };
    for (const auto& c : cases) {
        DiskStorage s;
        WriteBytes(s.dir / "repoconf.dat", kRepoHeader + c.line2 + "\r\n");
        ReportSettings r;
        EXPECT_EQ(LoadReportConfig(s.ctx, r, 1), 1);
        EXPECT_EQ(r.config.Bin, c.bin) << c.line2;
        EXPECT_EQ(r.config.threshold, c.threshold) << c.line2;
        EXPECT_EQ(r.config.method, c.method) << c.line2;
    }
}

TEST(ReportConfigFile, MissingOrBrokenFilesAreRewrittenWithTheDefaults) {
    DiskStorage s;
    s.ctx.list_separator_source = [] { return std::string(";"); };
    ReportSettings r;
    EXPECT_EQ(LoadReportConfig(s.ctx, r, 1), 0);  // missing: created with User_defined 1
    EXPECT_EQ(ReadBytes(s.dir / "repoconf.dat"), kRepoHeader + "1,30,0,\";\",1,0,1,0,0,1,18,0\r\n");
    EXPECT_EQ(r.ListSeparator, ";");

    WriteBytes(s.dir / "repoconf.dat", kRepoHeader + "1,30,0,\",\",1\r\n");  // five fields
    r.config.Bin = 99;
    EXPECT_EQ(LoadReportConfig(s.ctx, r, 1), 0);
    EXPECT_EQ(s.dialogs.Messages(),
              std::vector<std::string>{"Error loading repoconf.dat -> Using Default values"});
    EXPECT_EQ(r.config.Bin, 30);
    EXPECT_EQ(ReadBytes(s.dir / "repoconf.dat"), kRepoHeader + "0,30,0,\";\",1,0,1,0,0,1,18,0\r\n");

    s.ctx.list_separator_source = [] { return std::string(); };  // the locale says nothing
    EXPECT_EQ(LoadReportConfig(s.ctx, r, 0), 0);
    EXPECT_EQ(r.config.spacer, ",");
    EXPECT_FALSE(QueryListSeparator().empty());
}

TEST(ReportConfigFile, WriteFailureShowsItsMessage) {
    DiskStorage s;
    FaultyFileSystem faulty;
    faulty.write_budget = 0;
    StorageContext ctx{s.dir.path(), s.dialogs, faulty};
    ReportSettings r;
    EXPECT_FALSE(SaveReportConfig(ctx, r, 1));
    EXPECT_EQ(s.dialogs.Messages(),
              std::vector<std::string>{"Error Writing Report Configuration (repoconf.dat)"});
}

TEST(Installation, FreshFolderIsFilledAndExistingFilesAreKept) {
    TempDir dir;
    LocalFileSystem files;
    const fs::path inst = dir / "new" / "lumivo";
    auto r = EnsureInstallation(files, inst);
    ASSERT_TRUE(r.ok()) << r.error;
    for (const char* f :
         {"config.dat", "setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat",
          "w384.dat", "w96f.dat", "w96u.dat", "w48.dat", "w24.dat", "w6.dat", "w96flat.dat"}) {
        EXPECT_EQ(ReadBytes(inst / f), ReadBytes(DataDir() / f)) << f;  // embedded = source
    }
    EXPECT_EQ(r.created.size(), ShippedDataFiles().size());

    WriteBytes(inst / "config.dat", "mine");
    fs::remove(inst / "w48.dat");
    r = EnsureInstallation(files, inst);
    EXPECT_EQ(r.created, std::vector<std::string>{"w48.dat"});
    EXPECT_EQ(ReadBytes(inst / "config.dat"), "mine");

    // Installed data is preferred to the built-in copy, file by file; an unreadable installed
    // file falls back to the built-in one.
    fs::create_directories(dir / "share" / "w96f.dat");
    WriteBytes(dir / "share" / "w48.dat", "installed w48");
    fs::remove(inst / "w48.dat");
    fs::remove(inst / "w96f.dat");
    r = EnsureInstallation(files, inst, dir / "share");
    EXPECT_EQ((std::vector<std::string>{"w48.dat", "w96f.dat"}), r.created);
    EXPECT_EQ(ReadBytes(inst / "w48.dat"), "installed w48");
    EXPECT_EQ(ReadBytes(inst / "w96f.dat"), ReadBytes(DataDir() / "w96f.dat"));

    WriteBytes(dir / "plain", "x");
    r = EnsureInstallation(files, dir / "plain" / "lumivo");
    EXPECT_FALSE(r.ok());
    FaultyFileSystem full;
    full.write_budget = 0;
    r = EnsureInstallation(full, dir / "other");
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.created.empty());
}

TEST(Installation, FreshFolderStartsWithoutAnyMessage) {
    DiskStorage s;
    ASSERT_TRUE(EnsureInstallation(s.files, s.dir.path()).ok());
    GlobalConfig config;
    ASSERT_TRUE(LoadConfig(s.ctx, config));
    ProjectState project;
    SelectProjectFolder(s.ctx, config, project);
    PlateMap plate;
    const auto r = LoadProject(s.ctx, config.Actual_Project_Number, config.Actual_Project_Number,
                               project, plate);
    EXPECT_TRUE(r.setup.ok && r.plate_ok);
    EXPECT_TRUE(s.dialogs.shown().empty());
    EXPECT_EQ(config.Actual_Project_Number, 0);
    EXPECT_EQ(project.Setup.Name, "Default");
    EXPECT_EQ(project.Setup.Plate_format, "w96f");
    EXPECT_EQ(plate.MaxBeamIndex, 1);
}
