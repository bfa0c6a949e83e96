// Installation folders for the browser and join tests, built in a temporary directory with the
// program's own writers: the shipped installation data, project files written by the storage
// code, subproj.dat by the register writer and counts.bin by the acquisition's counts writer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/acquisition/data_files.h"
#include "core/offline/acquisition_browser.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo::offline::testing {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

class OfflineInstall {
    // Declared first: the members below are built from them.
    fs::path root_;
    fs::path install_;

    static fs::path MakeRoot() {
        std::string pattern = (fs::temp_directory_path() / "lumivo-offline-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        return pattern;
    }

  public:
    OfflineInstall() : root_(MakeRoot()), install_(root_ / "install") {
        EXPECT_TRUE(EnsureInstallation(files, install_).ok());
    }
    ~OfflineInstall() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    OfflineInstall(const OfflineInstall&) = delete;
    OfflineInstall& operator=(const OfflineInstall&) = delete;

    const fs::path& install() const { return install_; }

    // Project n named `name` (the Default project's tables, groups by beam column).
    fs::path Project(int n, const std::string& name, const std::string& plate = "w96f") {
        ProjectState p;
        p.Setup.Name = name;
        p.Setup.Plate_format = plate;
        return WriteProject(ProjectFolderFor(install_, n), n, p);
    }
    fs::path WriteProject(const fs::path& folder, int n, const ProjectState& p) {
        fs::create_directories(folder);
        SaveProjectFiles(storage, folder, n, p);
        return folder;
    }

    // An acquisition of project n: the project's files as they are now, subproj.dat (unless
    // `title` is nullopt) and one counts record per minute given, at `tenths` degrees x 10.
    fs::path Acquisition(int n, const std::string& folder_name,
                         const std::optional<std::string>& title,
                         const std::vector<std::int32_t>& minutes, std::int16_t tenths = 231) {
        const fs::path project = ProjectFolderFor(install_, n);
        const fs::path folder = project / folder_name;
        fs::create_directories(folder);
        for (const char* f :
             {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
            fs::copy_file(project / f, folder / f, fs::copy_options::overwrite_existing);
        if (title) WriteAcquisitionRegister(storage, folder, {*title, "test run"});
        AppendCounts(folder, minutes, tenths);
        return folder;
    }
    void AppendCounts(const fs::path& folder, const std::vector<std::int32_t>& minutes,
                      std::int16_t tenths = 231) {
        PosixFileOps ops;
        for (std::int32_t m : minutes) {
            CountsRecord r;
            r.elapsed_minutes = m;
            for (std::size_t c = 0; c < kBeamChannelCount; ++c)
                r.values[c] = static_cast<std::int16_t>((c + static_cast<std::size_t>(m)) % 7);
            r.values[kBeamChannelCount] = tenths;
            EXPECT_TRUE(AppendCountsRecord(ops, folder / kCountsFileName, r, {}).ok);
        }
    }

    LocalFileSystem files;
    ::lumivo::testing::ScriptedDialogs dialogs;
    ::lumivo::testing::FakeClock clock{LocalDateTime{2026, 3, 14, 9, 30, 0, 0}};
    StorageContext storage{install_, dialogs, files, [] { return std::string(","); }};
    const fs::path& root() const { return root_; }
};

}  // namespace lumivo::offline::testing
