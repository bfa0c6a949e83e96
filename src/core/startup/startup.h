// The program's start: its command line, the loading sequence of the main window (config,
// current project and plate format, report configuration, the controls that depend on them,
// the paced status texts of the launcher), the project header shown when the main window is
// activated, and the closing steps of the main window. Headless: what is shown goes through a
// StartupView the main window implements; questions and pauses go through Dialogs and Clock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/ui_port.h"
#include "core/state/app_state.h"

namespace lumivo {

inline constexpr const char* kVersionText = "<< V3.3-API Rev04/21 >>";
inline constexpr const char* kInitErrorMessage = "Error loading INIT parameters #ERROR:";
inline constexpr const char* kActivationErrorMessage = "Error loading parameters";
inline constexpr const char* kSureToQuitMessage = "Sure to Quit?";
inline constexpr const char* kInitialNews = "Equipment Status = unknown";
// The plate format on which body bends can be counted.
inline constexpr const char* kBodyBendsPlateFormat = "w96u";

// Pacing of the start-up status texts (the start-up timer's interval) and the slice in which
// pending window events run while a step waits.
inline constexpr int kStartupPaceMs = 500;
inline constexpr int kStartupPaceSliceMs = 10;

// ---- Command line ----

struct AppCommandLine {
    std::filesystem::path install_dir;
    bool simulate = false;    // "--simulate": serve the built-in simulated instrument
    bool autorun = false;     // what remains is "/RUN", "/run" or "/Run"
    std::string remaining;    // the rest of the command line, joined by single spaces
    bool help = false;        // "--help" or "-h": print AppUsage() and end with status 0
    bool version = false;     // "--version": print AppVersionLine() and end with status 0
    std::string usage_error;  // an option the program does not know: print it, status 2
};

// Takes "--install DIR" and "--simulate" out of the arguments (without the program name), then
// tests what remains for the autorun switch. "--help", "-h" and "--version" are taken too; any
// other word starting with "--" is a usage error (the autorun switch starts with one slash).
AppCommandLine ParseAppCommandLine(std::vector<std::string> args);

// The text of "lumivo --help" and "lumivo --version".
std::string AppUsage();
std::string AppVersionLine();

// True when the whole command line, trimmed of spaces, is exactly "/RUN", "/run" or "/Run".
bool IsAutorunCommandLine(std::string_view command_line);

// ---- Texts of the main window ----

// The organism list `Cmb_organism`.
const std::vector<std::string>& OrganismChoices();
// The text `Cmb_organism` shows for the project's Organism value, or nullopt to leave it.
std::optional<std::string> OrganismText(int organism);
// The report-bin list `combo_minutes` (minutes).
const std::vector<std::string>& ReportBinChoices();

// The project header and the controls that follow the plate format.
struct ProjectHeader {
    std::string projecto;            // txt_projecto: number + "_" + name
    std::string acqlapse;            // txt_acqlapse
    std::string wellformat;          // txt_wellformat
    bool bodybends_enabled = false;  // chk_bodybends: only on "w96u"
};
ProjectHeader MakeProjectHeader(const AppState& app);

// "Update values to project " + number + "_" + name + " before Exit?".
std::string UpdateProjectQuestion(const AppState& app);

// ---- Start-up ----

// What the loading sequence shows; the main window (and the launcher through it) implement it.
class StartupView {
  public:
    virtual ~StartupView() = default;
    // Device buttons back to "COOL", "OFF", "OFF"; the automatic-action frame hidden.
    virtual void ResetDeviceControls() = 0;
    // The launcher shown but not usable yet; the main window hidden.
    virtual void ShowLauncherLoading() = 0;
    virtual void SetLauncherNews(const std::string& text) = 0;
    // Tool panels: calibration `frm_mn1`, light `Frame_light`, temperature `Frame_temp`.
    virtual void ShowToolPanels(bool calibration, bool light, bool temperature) = 0;
    // Fills `Cmb_organism`; `text` (when given) is what it shows.
    virtual void SetOrganismList(const std::vector<std::string>& items,
                                 const std::optional<std::string>& text) = 0;
    // The remaining tool settings into their controls: signal-to-noise factor, automatic
    // calibration and zero marks, light times, temperature set point. The controls may write
    // back what they settle on (the calibration marks are kept in the project).
    virtual void LoadToolSettings(ProjectState& project) = 0;
    // Fills `combo_minutes` and shows `selected`; `user_defined` is the mark of `mn_userbin`.
    virtual void SetReportBins(const std::vector<std::string>& items, const std::string& selected,
                               bool user_defined) = 0;
    // Live-data buffers and group lists sized from the project; the project header.
    virtual void PrepareLiveDisplays(const AppState& app) = 0;
    virtual void ShowProjectHeader(const ProjectHeader& header) = 0;
    // The launcher's choices react from now on.
    virtual void MakeLauncherUsable() = 0;
};

struct StartupContext {
    StorageContext& storage;
    Clock& clock;
    AppState& app;
    StartupView& view;
};

struct StartupResult {
    bool completed = false;  // false: an error stopped it (after its message)
    bool autorun = false;    // the caller shows the main window and starts an acquisition
};

// The loading sequence of the main window, steps in order; `command_line` is the program's
// command line without the options already taken out.
StartupResult RunStartup(StartupContext& ctx, std::string_view command_line);

// Waits one pacing interval letting window events run, then shows the text of `step` (steps 3
// and 4 show none).
void PaceStartupStep(StartupContext& ctx, int step);
// The launcher text of pacing step 0..4 ("" for none).
std::string StartupStepText(int step);

// ---- A recording without the windows ----

// How opening a project to record went.
struct ProjectOpening {
    bool exists = true;  // its folder holds setup.dat (project 0 is the installation folder)
    std::filesystem::path folder;
    std::optional<ProjectLoadFailure> failure;  // a file that could not be read
    bool ok() const { return exists && !failure; }
};

// Opens project `number` to be recorded by a program without windows (lumivo-cli acquire):
// config.dat when there is one, then the project as it is stored, made the current one in
// `app`. Nothing is recovered, defaulted or written: a damaged project is not recorded, or the
// acquisition would carry the defaults.
ProjectOpening OpenProjectToRecord(StorageContext& storage, AppState& app, int number);

// ---- Closing ----

struct ClosingSteps {
    std::function<void()> close_port;   // the instrument's port
    std::function<void()> close_files;  // every open data file
};

// The closing steps of the main window. Unless offline: asks whether to save the project and
// saves it on Yes, then closes the port; then closes the files. Returns false (and the window
// stays open) only when the save failed, after telling the user, so nothing is lost silently.
bool RunMainWindowClosing(StorageContext& storage, Clock& clock, AppState& app,
                          const ClosingSteps& steps);

}  // namespace lumivo
