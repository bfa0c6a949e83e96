// The project files: setup.dat (with setup.bak and its recovery), status.dat, threshld.dat,
// groups.dat and chgroup.dat, and the program-wide project state they fill, with the project's
// plate map of what is in each well (wells.csv, well_map.h), read when the project is loaded.
//
// Project 0 ("Default") lives in the installation folder itself; project n > 0 in the
// installation folder's sub-folder "p" + n in five digits.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/storage/config_file.h"
#include "core/storage/plate_format.h"
#include "core/storage/storage_context.h"
#include "core/storage/well_map.h"

namespace lumivo {

// Limits kept when setup.dat is loaded; a value outside them is replaced by its default.
// RT_Buffer: the activity calculation analyses fixed 500-sample windows, so a shorter buffer
// would read past the window; a recording needs at least kMinRtBuffer rows. Projects and
// acquisitions written by older versions may hold 200..499, which is fine for everything that
// only reads them.
inline constexpr std::int16_t kMinRtBuffer = 500;
inline constexpr std::int16_t kMinStoredRtBuffer = 200;
inline constexpr std::int16_t kMaxRtBuffer = 10000;
inline constexpr std::int16_t kDefaultRtBuffer = 500;
// A recording lasts 2..32000 minutes, whether the lapse was typed, loaded or given on the
// command line. Acquisitions recorded by older versions may hold a lapse of 1, which is fine
// for everything that only reads them.
inline constexpr std::int16_t kMinAqLapse = 2;  // minutes
inline constexpr std::int16_t kMinStoredAqLapse = 1;
inline constexpr std::int16_t kMaxAqLapse = 32000;
inline constexpr std::int16_t kMaxAqMode = 5;       // "0_Offline" .. "5_Fast(96.127)"
inline constexpr std::int16_t kMaxDspMethod = 2;    // methods 0..2
inline constexpr std::int16_t kMinDspInterval = 0;  // ticks; the display divides by it + 1
// Groups: -1 is the free group, 0..383 named groups.
inline constexpr std::int16_t kFreeGroup = -1;
inline constexpr std::int16_t kMaxGroup = 383;

// The values of setup.dat lines 2, 4 and 6.
struct ProjectSetup {
    std::string Name = "Default";
    std::string Working_folder;  // project folder path ending in a separator
    std::string Plate_format = "96f";
    std::int16_t Aq_mode = 1;
    std::int16_t Aq_lapse = 30;
    std::int16_t Sample_Rate = 99;
    std::int16_t RT_Buffer = kDefaultRtBuffer;
    std::int16_t DSP_Method = 1;
    std::int16_t DSP_Interval = 30;
    std::int16_t Binary_Acq = 1;
    std::int16_t Threshold_Counter = 300;
    std::int16_t Cal_value = 80;
    std::int16_t Cal_mode = 1;
    std::int16_t Save_counts = 1;
    std::int16_t Save_real = 1;
};

// What the stored flag means: each recorded window also saves its raw signals (Save_real 1).
inline bool SavesRawSignals(const ProjectSetup& setup) {
    return setup.Save_real == 1;
}
inline void SetSavesRawSignals(ProjectSetup& setup, bool save) {
    setup.Save_real = save ? 1 : 0;
}
// The readings per window a recording takes (RT_Buffer, within kMinRtBuffer..kMaxRtBuffer).
inline std::size_t RecordingRtBuffer(const ProjectSetup& setup) {
    return static_cast<std::size_t>(
        std::clamp<std::int16_t>(setup.RT_Buffer, kMinRtBuffer, kMaxRtBuffer));
}

// ToolMenu[1..6]: Menu1 calibration tools, Menu2 light, Menu3 temperature, Menu4..6 no tool.
// ToolParams[k][0..5] for rows k = 1..6 (row 1: Organism, Enab_Cal, Enab_Zero, SNRx10; row 2:
// light Enable, Time_ON, Time_OFF; row 3: temperature Enable, Tempx10). Index 0 is unused so
// the numbers match the menus.
using ToolMenuTable = std::array<std::int16_t, 7>;
using ToolParamsTable = std::array<std::array<std::int16_t, 6>, 7>;

ToolMenuTable DefaultToolMenu();
std::array<std::int16_t, 6> DefaultToolParamsRow(int row);

// The program-wide state of the current project.
struct ProjectState {
    std::filesystem::path ProjectFolder;
    ProjectSetup Setup;
    ToolMenuTable ToolMenu = DefaultToolMenu();
    ToolParamsTable ToolParams{};
    std::array<std::int16_t, kChannelTableSize> ChannelStatus{};
    std::array<std::int16_t, kChannelTableSize> ChannelEnabled{};  // -1 enabled, 0 disabled
    std::array<double, kChannelTableSize> ChannelThreshold{};
    std::array<std::string, kChannelTableSize> GroupName{};
    std::array<std::int16_t, kChannelTableSize> ChannelGroup{};  // kFreeGroup (-1) = free
    // What is in each well (wells.csv; empty when the project has none). When the file is there
    // but cannot be read the map is empty and `WellsFailure` says why: the file is then kept as
    // it is on disk until the user replaces the map.
    WellMap Wells;
    std::string WellsFailure;

    ProjectState();  // every table at the defaults of an unreadable file
};

// The default tables of unreadable project files.
void SetDefaultChannelEnabled(ProjectState& p);  // every channel enabled
void SetDefaultThresholds(ProjectState& p);      // 3.0
void SetDefaultGroupNames(ProjectState& p);      // "Group0".."Group11", then "Free"
void SetDefaultChannelGroups(ProjectState& p);   // beam column c -> group Int((c + 1) / 2)

// "00003" for 3: the project number in five digits.
std::string FiveDigits(long long number);
// The folder of project `number`: the installation folder for 0, else install/pNNNNN.
std::filesystem::path ProjectFolderFor(const std::filesystem::path& install_dir, int number);
// Start-up choice of the project: a number below 1, or one whose folder does not exist, gives
// the Default project (0, the installation folder). Sets config.Actual_Project_Number and
// project.ProjectFolder.
void SelectProjectFolder(StorageContext& ctx, GlobalConfig& config, ProjectState& project);

// What a setup is loaded for. Recording (the current project of the program, an acquisition
// about to start) keeps RT_Buffer at kMinRtBuffer or more and the lapse at kMinAqLapse or more;
// Reading (reports, browsing, listing and editing the groups of a project) takes RT_Buffer
// 200..10000 and a lapse of 1 as stored, without a message.
enum class SetupUse { Recording, Reading };

// Dialogs for reading an acquisition's copy of the project files. They are read as the files
// of no project (number 0), so that nothing is ever "restored" into them from the project
// folder or another acquisition; the setup loader's warning that the project number in
// setup.dat is not 0 then means nothing and is dropped. Every other message passes through.
class AcquisitionFileDialogs final : public Dialogs {
  public:
    explicit AcquisitionFileDialogs(Dialogs& inner) : inner_(inner) {}
    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override {
        return inner_.InputBox(prompt, title, default_text);
    }
    void ProcessEvents() override { inner_.ProcessEvents(); }

  private:
    Dialogs& inner_;
};

struct SetupLoadResult {
    bool ok = true;         // read without error (after a recovery: the re-read was clean)
    int stage = 11;         // how far reading got before an error
    bool restored = false;  // setup.dat was replaced from setup.bak or an acquisition
    std::string news;       // the project-number warning for the launcher's news label, or ""
};

// LoadProjectSetup(number) and the other loaders read from project.ProjectFolder; `number` is
// used in the messages and for the recovery folder. `actual_project_number` is only quoted in
// the project-number warning.
// Every message names the file by its real path and says what was wrong.
SetupLoadResult LoadProjectSetup(StorageContext& ctx, int number, int actual_project_number,
                                 ProjectState& project, SetupUse use = SetupUse::Recording);
bool LoadChannelStatus(StorageContext& ctx, int number, ProjectState& project);
bool LoadThresholds(StorageContext& ctx, int number, ProjectState& project);
bool LoadGroupNames(StorageContext& ctx, int number, ProjectState& project);
// A channel whose group lies outside -1..383 (999, the free group of reports, for example) is
// loaded as free (-1); one message names the file and how many channels were freed. The file
// itself changes only when the project is saved. An unreadable file loads the default groups.
bool LoadChannelGroups(StorageContext& ctx, int number, ProjectState& project);

struct ProjectLoadResult {
    SetupLoadResult setup;
    bool status_ok = true, thresholds_ok = true, group_names_ok = true, groups_ok = true;
    bool plate_ok = true;
    bool wells_ok = true;
};

// Reads project.ProjectFolder/wells.csv into project.Wells for the wells of `plate`. A file that
// cannot be read leaves the map empty, keeps the reason in project.WellsFailure and returns
// false; with `tell` the reason is shown too.
bool LoadProjectWellMap(StorageContext& ctx, ProjectState& project, const PlateMap& plate,
                        bool tell = true);

// Loads the five project files, the plate format and then the plate map, in this order, from
// project.ProjectFolder. Every error shows its message and loads its defaults; none stops. A
// plate map that cannot be read is told only for SetupUse::Recording (the current project).
ProjectLoadResult LoadProject(StorageContext& ctx, int number, int actual_project_number,
                              ProjectState& project, PlateMap& plate,
                              SetupUse use = SetupUse::Recording);

// Why a project could not be loaded as it is stored.
struct ProjectLoadFailure {
    std::filesystem::path file;
    int stage = 0;  // how far reading of setup.dat (ID#) or of the plate file got; 0 otherwise
    std::string reason;
    // "<file> ID#<stage>: <reason>" (without the ID# part when stage is 0).
    std::string Describe() const;
};

// Loads the five project files and the plate format as they are stored, for commands that must
// not change a damaged project: no recovery from setup.bak or an acquisition, no defaults, no
// plate fallback and nothing written. The first file that cannot be read ends the load and is
// returned. Values corrected on loading (out of range, a freed group) are told through the
// dialogs as usual. A plate map that cannot be read ends nothing and is not told (it says what
// is in the wells, not how to record them): project.WellsFailure keeps why.
std::optional<ProjectLoadFailure> LoadProjectAsStored(StorageContext& ctx, int number,
                                                      ProjectState& project, PlateMap& plate,
                                                      SetupUse use);

// Copies setup.dat to setup.bak (a failure is ignored), then writes the five files into
// `folder`. Names that cannot be stored (line breaks) are refused before anything is written.
// Throws StorageError on failure; the five files are then all still the old ones.
void SaveProjectFiles(StorageContext& ctx, const std::filesystem::path& folder,
                      int actual_project_number, const ProjectState& project);
// SaveProjectFiles into project.ProjectFolder.
void SaveProjectSetup(StorageContext& ctx, int actual_project_number, const ProjectState& project);

// The texts of the five files (setup.dat written with Num_proj = actual_project_number).
std::string FormatSetupFile(int actual_project_number, const ProjectState& project);
std::string FormatStatusFile(const ProjectState& project);
std::string FormatThresholdFile(const ProjectState& project);
std::string FormatGroupNamesFile(const ProjectState& project);
std::string FormatChannelGroupsFile(const ProjectState& project);

// "<Project> p00003: name" for the project lists; recovers a short setup.dat from setup.bak or
// the latest acquisition first (with a message).
std::string GetProjectTitle(StorageContext& ctx, const std::filesystem::path& folder);

// Rewrites the name in the folder's setup.dat (after copying it to setup.bak). Returns
// new_name, or "" when it failed. A folder without setup.dat is left alone.
std::string RenameProjectInFile(StorageContext& ctx, const std::filesystem::path& folder,
                                const std::string& new_name);

// The acquisition sub-folder ("yyyymmdd_hhmm") with the latest start time, or "".
std::string FindLatestAcquisition(StorageContext& ctx, const std::filesystem::path& folder);
// Number of lines of a file; 0 on any error.
int CountFileLines(StorageContext& ctx, const std::filesystem::path& path);
// 1 on success, -1 on any failure; never throws. The copy is written atomically.
int CopyFileChecked(StorageContext& ctx, const std::filesystem::path& source,
                    const std::filesystem::path& destination);
// Free space of the file system holding `path` in megabytes, rounded (halves to even) and
// limited to 32 bits; -1 when the query fails.
std::int32_t FreeDiskMegabytes(StorageContext& ctx, const std::filesystem::path& path);

}  // namespace lumivo
