// The bytes a recording stores, pinned. Two fixed runs of the seeded in-process simulated
// instrument in virtual time are recorded: a run on the flat-bottom plate with the automatic
// calibration and zero at its start that ends at its programmed lapse with the quick report,
// and a body-bends run on the U-bottom plate stopped after twelve windows (two raw pages, two
// histogram files). Every file left in the installation folder is listed with its size and a
// digest of its bytes, and the list must equal golden/recording_files.txt.
//
// A change that alters what a recording stores fails here. The test prints the list it made,
// so a change that means to alter the stored files replaces the golden list with it (and says
// why in its commit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "acquisition_rig.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

// FNV-1a, 64 bits: enough to tell two versions of a file apart, and the same on every build.
std::uint64_t Digest(const std::string& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

// "<run>/<path below the installation folder> <size> <digest>", one line per file, sorted. The
// installation folder is a new temporary folder each time: where a file names it (events.log
// names the quick report), the digest is taken with "<install>" in its place.
std::string FileList(const std::string& run, const fs::path& install) {
    const std::string install_text = install.string();
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(install)) {
        if (!entry.is_regular_file()) continue;
        std::string bytes = ReadFile(entry.path());
        const std::size_t size = bytes.size();
        for (auto at = bytes.find(install_text); at != std::string::npos;
             at = bytes.find(install_text, at))
            bytes.replace(at, install_text.size(), "<install>");
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016llx",
                      static_cast<unsigned long long>(Digest(bytes)));
        lines.push_back(run + "/" + entry.path().lexically_relative(install).generic_string() +
                        " " + std::to_string(size) + " " + digest);
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

std::string CalibratedRunToLapse() {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    rig.controls.AutoCalibrateOnStart = true;
    rig.controls.AutoZeroOnStart = true;
    EXPECT_EQ(rig.Start("calibrated run"), StartOutcome::Started);
    rig.RunTicks(20000);
    EXPECT_TRUE(rig.engine.State().finished_at_lapse);
    return FileList("lapse", rig.temp.path());
}

std::string BodyBendsRunStopped() {
    AcquisitionRig rig(AlternatingWells("w96u", 1.0), "w96u");
    EXPECT_EQ(rig.Start("bends", true), StartOutcome::Started);
    rig.RunWindows(12);
    rig.engine.Stop();
    EXPECT_EQ(rig.engine.Sampling().windows_recorded, 12);
    return FileList("bends", rig.temp.path());
}

TEST(RecordingFiles, SeededRunsStoreTheBytesOfTheGoldenList) {
    const std::string made = CalibratedRunToLapse() + BodyBendsRunStopped();
    std::cout << "-- recording files (golden/recording_files.txt):\n" << made << "--\n";
    const fs::path golden =
        fs::path(LUMIVO_SOURCE_DIR) / "tests/core/acquisition/golden/recording_files.txt";
    const std::string expected = ReadFile(golden);
    ASSERT_FALSE(expected.empty()) << golden << " is missing";
    EXPECT_EQ(made, expected);
}

}  // namespace
}  // namespace lumivo::testing
