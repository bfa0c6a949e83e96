// lumivo-cli wells, stats and dose as a lab uses them: a plate map made in a spreadsheet is
// imported into a project, goes with the acquisition lumivo-sim records for it (a plate whose
// activity follows a dose curve), and every one of its columns reaches the tidy export and the
// comparison table; the dose fit writes its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo::testing;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

std::string LastLine(const std::string& out) {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

// The fields of a CSV line (no quotes in these tables' fields).
std::vector<std::string> Fields(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
}

std::vector<std::vector<std::string>> Table(const fs::path& p) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(Slurp(p));
    for (std::string line; std::getline(in, line);) rows.push_back(Fields(line));
    return rows;
}

// The row whose `key` column holds `value`, as column -> field.
std::map<std::string, std::string> Row(const std::vector<std::vector<std::string>>& table,
                                       const std::string& key, const std::string& value) {
    const auto& header = table.front();
    const auto k =
        static_cast<std::size_t>(std::find(header.begin(), header.end(), key) - header.begin());
    for (std::size_t r = 1; r < table.size(); ++r) {
        if (k < table[r].size() && table[r][k] == value) {
            std::map<std::string, std::string> row;
            for (std::size_t c = 0; c < header.size() && c < table[r].size(); ++c)
                row[header[c]] = table[r][c];
            return row;
        }
    }
    ADD_FAILURE() << "no row with " << key << " = " << value;
    return {};
}

// What a European spreadsheet saves: a byte-order mark, semicolons, decimal commas, CR LF, the
// columns in its own order and two of the lab's own.
std::string Spreadsheet() {
    std::string text = "\xEF\xBB\xBFWell;Role;Treatment;Concentration;Unit;genotype;replicate\r\n";
    const char* rows = "ABCDEFGH";
    const char* concentrations[] = {"0,03", "0,1", "0,3", "1", "3", "10", "30", "100"};
    for (int r = 0; r < 8; ++r) {
        const std::string row(1, rows[r]);
        text += row + "1;negative;DMSO;;%;N2;" + std::to_string(r % 2 + 1) + "\r\n";
        text += row + "12;positive;Ivermectin;10;uM;N2;" + std::to_string(r % 2 + 1) + "\r\n";
        for (int c = 2; c <= 9; ++c)
            text += row + std::to_string(c) + ";sample;Levamisole;" + concentrations[c - 2] +
                    ";uM;" + (r < 4 ? "N2" : "unc-29") + ";" + std::to_string(r % 2 + 1) + "\r\n";
        text += row + "10;empty;;;;;\r\n";
    }
    return text;
}

TEST(PlateMapCli, ASpreadsheetMapFlowsIntoTheRecordingTheTidyExportAndTheTables) {
    TempFolder folder{"lumivo-plate-map"};
    const fs::path dir = folder.path();
    const fs::path install = dir / "inst";
    ASSERT_EQ(RunCliOn(install, {"project", "new", "Screen", "--lapse", "2"}, dir).status, 0);

    // A map with a well off the plate is refused with its line; nothing is saved.
    Spit(dir / "bad.csv", "well,treatment,concentration\nA1,DMSO,\nZ9,DMSO,\n");
    RunResult r = RunCliOn(install, {"wells", "1", "--import", (dir / "bad.csv").string()}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumivo-cli wells: " + (dir / "bad.csv").string() +
                         " line 3: the well \"Z9\" is not on the plate (A1 to H12)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Nothing was saved."), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(install / "p00001" / "wells.csv"));

    Spit(dir / "sheet.csv", Spreadsheet());
    r = RunCliOn(install, {"wells", "1", "--import", (dir / "sheet.csv").string()}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path project_map = install / "p00001" / "wells.csv";
    EXPECT_EQ(LastLine(r.out), project_map.string());
    EXPECT_NE(r.err.find("88 wells imported for the w96f plate"), std::string::npos) << r.err;

    // lumivo-sim animals follow the curve from the start: Levamisole's EC50 at 1 uM.
    std::string acquisition;
    {
        SimProcess sim(kSimProgram, install,
                       {"--no-pace", "--plate", "w96f", "--wells", project_map.string(), "--dose",
                        "3,1,1.5,0.1,0"});
        ASSERT_TRUE(sim.ready()) << sim.log();
        r = RunCliOn(install,
                     {"acquire", "--com", "1", "--project", "1", "--name", "dose plate",
                      "--tick-ms", "0", "--no-calibration"},
                     dir, 300'000);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    for (const auto& e : fs::directory_iterator(install / "p00001"))
        if (e.is_directory()) acquisition = e.path().string();
    ASSERT_FALSE(acquisition.empty());
    // The acquisition keeps the map it was recorded under.
    EXPECT_EQ(Slurp(fs::path(acquisition) / "wells.csv"), Slurp(project_map));

    // The tidy export carries every column of the map.
    r = RunCliOn(install, {"export", acquisition, "--tidy", "--bin", "1"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto metadata = Table(fs::path(acquisition) / "metadata.csv");
    for (const char* column :
         {"treatment", "concentration", "unit", "role", "genotype", "replicate"})
        EXPECT_NE(std::find(metadata.front().begin(), metadata.front().end(), column),
                  metadata.front().end())
            << column;
    const auto e5 = Row(metadata, "well", "E5");
    EXPECT_EQ(e5.at("treatment"), "Levamisole");
    EXPECT_EQ(e5.at("concentration"), "1");
    EXPECT_EQ(e5.at("genotype"), "unc-29");
    EXPECT_EQ(e5.at("replicate"), "1");
    EXPECT_EQ(Row(metadata, "well", "A10").at("role"), "empty");

    // The comparison table: a row per treatment and concentration against DMSO, the map's
    // columns with it; the picture beside it.
    r = RunCliOn(install, {"stats", acquisition, "--from", "0", "--to", "1", "--bin", "1"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LastLine(r.out), (fs::path(acquisition) / "stats.csv").string());
    EXPECT_TRUE(fs::exists(fs::path(acquisition) / "stats.svg"));
    const auto stats = Table(fs::path(acquisition) / "stats.csv");
    ASSERT_EQ(stats.size(), 1u + 9u + 1u);  // 8 concentrations and Ivermectin; the plate's Z'
    const auto one = Row(stats, "group", "Levamisole 1 uM");
    EXPECT_EQ(one.at("control"), "DMSO");
    EXPECT_EQ(one.at("n"), "8");
    EXPECT_EQ(one.at("test"), "welch");
    EXPECT_EQ(one.at("genotype"), "N2/unc-29");
    EXPECT_EQ(one.at("replicate"), "1/2");
    EXPECT_EQ(one.at("unit"), "uM");
    EXPECT_EQ(Row(stats, "test", "z-prime").at("n"), "16");

    // The dose table has its row for Levamisole (the one treatment with a series).
    r = RunCliOn(
        install,
        {"dose", acquisition, "--from", "0", "--to", "1", "--bin", "1", "--normalise", "control"},
        dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LastLine(r.out), (fs::path(acquisition) / "dose.csv").string());
    const auto dose = Table(fs::path(acquisition) / "dose.csv");
    ASSERT_EQ(dose.size(), 2u);
    EXPECT_EQ(Row(dose, "treatment", "Levamisole").at("concentrations"), "8");

    // Exported back, the map is the project's.
    r = RunCliOn(install, {"wells", acquisition, "--export", (dir / "back.csv").string()}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(dir / "back.csv"), Slurp(project_map));
}

TEST(PlateMapCli, UsageErrors) {
    TempFolder folder{"lumivo-plate-map"};
    const fs::path dir = folder.path();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"wells", "1"}, "give one of --import FILE.csv and --export FILE.csv"},
        {{"stats", "/x", "--from", "0"}, "--to H is needed"},
        {{"stats", "/x", "--from", "2", "--to", "1"}, "--to must lie after --from"},
        {{"stats", "/x", "--from", "0", "--to", "1", "--test", "t"}, "--test must be welch"},
        {{"stats", "/x", "--from", "0", "--to", "1", "--adjust", "bonferroni"},
         "--adjust must be holm, bh or none"},
        {{"dose", "/x", "--from", "0", "--to", "1", "--model", "ll5"}, "--model must be ll4"},
        {{"dose", "/x", "--from", "0", "--to", "1", "--by", "dose"}, "--by takes only treatment"},
        {{"dose", "--from", "0", "--to", "1"}, "the acquisition folder is missing"},
    };
    for (const auto& [words, message] : cases) {
        const RunResult r = RunCliOn(dir / "inst", words, dir);
        EXPECT_EQ(r.status, 2) << words.front();
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

}  // namespace
