// The project operations of the setup window, without the window: the project list, creating a
// project (also "save under a new name"), saving, loading a listed project, renaming, the checks
// of the parameter boxes, the tool switches and the change of plate format. Questions and
// messages go through Dialogs; nothing is written to disk except by creating, saving or loading.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/storage/config_file.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"

namespace lumivo {

// The messages and questions of the project setup.
inline constexpr const char* kNewProjectQuestion = "Do you like to Create a New Project?";
inline constexpr const char* kNewProjectPrompt = "Enter the New Project Name";
inline constexpr const char* kLoadQuestion = "Do you like to save current values before new load?";
inline constexpr const char* kRenameDefaultRefusal =
    "Not possible to rename the Default project. Save it with another Name";
inline constexpr const char* kRenamePrompt = "Rename Project: Entre New Name";
inline constexpr const char* kPlateSelectionError = "Selection Error";
inline constexpr const char* kLoadPlateQuestion = "Load New Plate configuration?";
// Project numbers start again at 1 after this one.
inline constexpr int kLastProjectNumber = 32000;

// The list choices of the setup window; the list index is the stored value.
const std::vector<std::string>& AqModeChoices();     // `Combo_aqmode`
const std::vector<std::string>& DspMethodChoices();  // `ComboDSP`
const std::vector<std::string>& NoYesChoices();      // `Combosavecount`, `Combosavereal`

// What the project operations work on: the program-wide configuration, project and plate map.
struct SetupSession {
    StorageContext& storage;
    GlobalConfig& config;
    ProjectState& project;
    PlateMap& plate;
};

// `txtprj`: Actual_Project_Number + "_" + Name.
std::string ProjectCaption(const SetupSession& s);

// ---- Project list ----

// The number of a project folder name: "p" followed by five digits; nullopt for any other name.
std::optional<int> ProjectNumberOfFolder(std::string_view name);

// `List_project`: one entry per sub-folder "pNNNNN" of the installation folder holding a
// setup.dat: the folder name, "_" and the project's name (the title's text after ": "), in
// folder order.
std::vector<std::string> ListProjects(StorageContext& storage);

// ---- New, save, load, rename ----

// `Cmdnewpj`: asks, then creates the next project with the current values. Returns the new
// project number, or nullopt when the user stopped or the project could not be written.
std::optional<int> NewProject(SetupSession& s);
// `Cmdsavepj`: "Update" on Yes, a new project under a new name on No. Returns true when
// something was saved.
bool SaveProjectInteractive(SetupSession& s);
// Steps 2 to 5 of the new project with the name already given: the number after Last_Project,
// its folder (asking before overwriting one that exists), the state, setup files and config.dat.
// A name that cannot be stored is refused first, before anything changes.
std::optional<int> CreateProjectAs(SetupSession& s, const std::string& name);
// SaveProjectSetup of the current project and the writing of its well map (wells.csv; an
// empty map removes the file, a map whose file could not be read leaves it alone), telling the
// user when it fails.
bool SaveCurrentProject(SetupSession& s);

// `cmdLoad`: asks whether to save first; Yes saves. Returns false on Cancel (or when the save
// failed), true when the list is to be shown.
bool PrepareLoad(SetupSession& s);
// A double click on a `List_project` entry: loads that project (config.dat written first) and
// returns its number; nullopt when the entry names no project folder.
std::optional<int> LoadListedProject(SetupSession& s, std::string_view entry);
// Loads project `number` as the current one (its folder, config.dat, LoadProject).
bool LoadProjectNumber(SetupSession& s, int number);

// ---- Unsaved changes ----

// The project as the setup window found it (when it was loaded, or last saved or loaded from
// disk): what its changes are measured against, and what "discard" goes back to.
struct SetupSnapshot {
    std::string text;  // the project files as they would be written
    ProjectState project;
    PlateMap plate;
};
SetupSnapshot TakeSetupSnapshot(const SetupSession& s);
bool SetupChanged(const SetupSession& s, const SetupSnapshot& snapshot);

// Closing the setup window: with unsaved changes asks whether to save them (Yes/No/Cancel). Yes
// saves (a failed save keeps the window open); No puts the project back as the window found
// it, so the discarded groups and values are neither recorded nor saved later; Cancel keeps the
// window. Returns true when the window may close.
// `leaving` names what the user is doing ("closing", "going to the acquisition").
bool CloseSetupWindow(SetupSession& s, const SetupSnapshot& snapshot,
                      std::string_view leaving = "closing");
std::string UnsavedSetupQuestion(const SetupSession& s, std::string_view leaving = "closing");

// Double click on `txtprj`: renames the current project in memory (the files change at the next
// save). Returns true when the name changed.
bool RenameCurrentProject(SetupSession& s);
// Renames project `number` in its setup.dat at once (the scripted rename). Refuses project 0,
// names that cannot be stored and projects without a setup.dat, with a message.
bool RenameProjectFiles(StorageContext& storage, int number, const std::string& name);

// ---- Parameter boxes ----

// The result of an edit: what the box shows afterwards when the check replaced the text, and
// the message to show when the text was refused (the value then stays what it was).
struct FieldEdit {
    std::optional<std::string> shown;
    std::string message;
};
// Text of a number box as a number (blanks around it allowed); nullopt when it is not one.
std::optional<double> ParseNumberBox(std::string_view text);
// Text of a number box as a number; text that is not a number counts as 0.
double NumberBoxValue(std::string_view text);

// The edits refuse text that is not a number (an empty box included) with this message and
// keep the value: a lapse typed as "abc" must not quietly become 2 minutes.
std::string NotANumberMessage(std::string_view text, std::string_view what, std::string_view kept);

FieldEdit EditAqLapse(ProjectSetup& setup, std::string_view text);      // `Txtlapse`
FieldEdit EditRtBuffer(ProjectSetup& setup, std::string_view text);     // `Txtbuffer`
FieldEdit EditSampleRate(ProjectSetup& setup, std::string_view text);   // `Txtsample`
FieldEdit EditDspInterval(ProjectSetup& setup, std::string_view text);  // `Txt_dspinterval`
void ChooseAqMode(ProjectSetup& setup, int index);                      // `Combo_aqmode`
void ChooseDspMethod(ProjectSetup& setup, int index);                   // `ComboDSP`
void ChooseSaveCounts(ProjectSetup& setup, std::string_view choice);    // `Combosavecount`
void ChooseSaveReal(ProjectSetup& setup, std::string_view choice);      // `Combosavereal`

// A tool check box (`chkcalib` 1, `chklight` 2, `chktemp` 3, `Chk_mn4`..`Chk_mn6` 4..6).
void SetToolMenu(ProjectState& project, int menu, bool ticked);

// ---- Plate formats ----

// `Combowell`: every "w*.dat" of the installation folder, lower-cased, without ".dat", sorted.
std::vector<std::string> ListPlateFormats(StorageContext& storage);

enum class PlateChange { Changed, Refused, Kept, Failed };
// A choice in `Combowell`: "Selection Error" for a format without its file; otherwise asks
// "Load New Plate configuration?". On Yes the new map is read first; only when it could be
// read are the groups cleared, its description shown and the format and map taken; wells of the
// well map (wells.csv) that the new plate does not have are taken out of it, and told. A file that
// cannot be read is reported and changes nothing.
PlateChange ChangePlateFormat(SetupSession& s, const std::string& name);

}  // namespace lumivo
