#include "core/setup/project_ops.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/setup/plate_groups.h"
#include "core/setup/well_editor.h"
#include "core/storage/field_record.h"

namespace lumivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSetupFileName = "setup.dat";

std::string FolderName(int number) {
    return "p" + FiveDigits(number);
}

int NextProjectNumber(const GlobalConfig& config) {
    return config.Last_Project >= kLastProjectNumber ? 1 : config.Last_Project + 1;
}

// Rounds a box value to a 16-bit integer (halves to even), limited to [lo, hi].
std::int16_t RoundInto(double v, int lo, int hi) {
    const double r =
        std::nearbyint(std::clamp(v, static_cast<double>(lo), static_cast<double>(hi)));
    return static_cast<std::int16_t>(r);
}

std::string SaveFailureMessage(const SetupSession& s, const std::exception& e) {
    return "Error saving project " + ProjectCaption(s) + ": " + e.what();
}

}  // namespace

std::optional<int> ProjectNumberOfFolder(std::string_view name) {
    if (name.size() != 6 || name[0] != 'p') return std::nullopt;
    int n = 0;
    for (std::size_t i = 1; i < 6; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

const std::vector<std::string>& AqModeChoices() {
    static const std::vector<std::string> kChoices = {"0_Offline",     "1_Default",
                                                      "2_Fast(0.31)",  "3_Fast(32.63)",
                                                      "4_Fast(64.95)", "5_Fast(96.127)"};
    return kChoices;
}

const std::vector<std::string>& DspMethodChoices() {
    // The third method is offered too, so a project using it shows (and keeps) its method.
    static const std::vector<std::string> kChoices = {"0_Threshold+Binary (Old Method.w/filters)",
                                                      "1_Threshold Avrg (Default.Agar&Liquid)",
                                                      "2_uOrganism (Motility Index)"};
    return kChoices;
}

const std::vector<std::string>& NoYesChoices() {
    static const std::vector<std::string> kChoices = {"NO", "YES"};
    return kChoices;
}

std::string ProjectCaption(const SetupSession& s) {
    return std::to_string(s.config.Actual_Project_Number) + "_" + s.project.Setup.Name;
}

std::vector<std::string> ListProjects(StorageContext& storage) {
    std::vector<std::string> folders;
    for (const auto& name : storage.files.ListSubfolders(storage.install_dir))
        if (ProjectNumberOfFolder(name)) folders.push_back(name);
    std::sort(folders.begin(), folders.end());
    std::vector<std::string> entries;
    for (const auto& name : folders) {
        const fs::path folder = storage.install_dir / name;
        if (!storage.files.IsFile(folder / kSetupFileName)) continue;
        const std::string title = GetProjectTitle(storage, folder);
        const auto colon = title.find(": ");
        entries.push_back(name + "_" +
                          (colon == std::string::npos ? title : title.substr(colon + 2)));
    }
    return entries;
}

bool SaveCurrentProject(SetupSession& s) {
    try {
        SaveProjectSetup(s.storage, s.config.Actual_Project_Number, s.project);
        // The plate map with it; a wells.csv that could not be read stays as the user left it
        // until the map is imported or edited anew.
        if (s.project.WellsFailure.empty())
            WriteWellMap(s.storage, s.project.ProjectFolder, s.project.Wells);
    } catch (const std::exception& e) {
        s.storage.dialogs.MessageBox(SaveFailureMessage(s, e));
        return false;
    }
    return true;
}

std::optional<int> CreateProjectAs(SetupSession& s, const std::string& name) {
    Dialogs& dialogs = s.storage.dialogs;
    if (name.find_first_not_of(" \t") == std::string::npos) {
        dialogs.MessageBox("The project name is empty: no project was created.");
        return std::nullopt;
    }
    if (const auto refusal = CheckStorableText(name, "The project name"); !refusal.empty()) {
        dialogs.MessageBox(refusal);
        return std::nullopt;
    }
    const int n = NextProjectNumber(s.config);
    s.config.Last_Project = static_cast<std::int16_t>(n);
    const std::string folder_name = FolderName(n);
    const fs::path folder = s.storage.install_dir / folder_name;
    if (s.storage.files.IsFolder(folder)) {
        const auto answer = dialogs.MessageBox("The project number to generate (" + folder_name +
                                                   "already exists. do you like to overwrite?",
                                               MsgButtons::YesNo);
        if (answer != MsgResult::Yes) return std::nullopt;
    } else if (!s.storage.files.CreateFolders(folder)) {
        dialogs.MessageBox("The project folder " + folder.string() + " cannot be created.");
        return std::nullopt;
    }

    // The new project starts with the current parameters, plate and groups. When its files
    // cannot be written the current project stays what it was.
    const fs::path old_folder = s.project.ProjectFolder;
    const auto old_number = s.config.Actual_Project_Number;
    const ProjectSetup old_setup = s.project.Setup;
    const std::string old_wells_failure = s.project.WellsFailure;
    // A plate map the old folder could not give is none in the new one: what the folder held
    // before (another project's map, when it is overwritten) must not stay behind as this one's.
    s.project.WellsFailure.clear();
    s.project.ProjectFolder = folder;
    s.config.Actual_Project_Number = static_cast<std::int16_t>(n);
    s.project.Setup.Name = name;
    s.project.Setup.Working_folder = folder.string() + "/";
    if (!SaveCurrentProject(s)) {
        s.project.ProjectFolder = old_folder;
        s.config.Actual_Project_Number = old_number;
        s.project.Setup = old_setup;
        s.project.WellsFailure = old_wells_failure;
        return std::nullopt;
    }
    SaveConfig(s.storage, s.config);
    return n;
}

std::optional<int> NewProject(SetupSession& s) {
    Dialogs& dialogs = s.storage.dialogs;
    if (dialogs.MessageBox(kNewProjectQuestion, MsgButtons::OkCancel) != MsgResult::Ok)
        return std::nullopt;
    const int n = NextProjectNumber(s.config);
    const auto name =
        dialogs.InputBox(kNewProjectPrompt, "Saving <" + std::to_string(n) + "> with a new name");
    if (!name) return std::nullopt;  // cancelled: nothing is created
    return CreateProjectAs(s, *name);
}

bool SaveProjectInteractive(SetupSession& s) {
    Dialogs& dialogs = s.storage.dialogs;
    const std::string caption = ProjectCaption(s);
    const auto answer = dialogs.MessageBox("Do you like to Update <" + caption + "> values?",
                                           MsgButtons::YesNoCancel);
    if (answer == MsgResult::Yes) {
        if (!SaveCurrentProject(s)) return false;
        SaveConfig(s.storage, s.config);
        return true;
    }
    if (answer != MsgResult::No) return false;
    const auto name =
        dialogs.InputBox(kNewProjectPrompt, "Saving <" + caption + "> with a new name");
    if (!name) return false;
    return CreateProjectAs(s, *name).has_value();
}

bool PrepareLoad(SetupSession& s) {
    const auto answer = s.storage.dialogs.MessageBox(kLoadQuestion, MsgButtons::YesNoCancel);
    if (answer == MsgResult::Yes) return SaveCurrentProject(s);
    return answer == MsgResult::No;
}

bool LoadProjectNumber(SetupSession& s, int number) {
    if (number < 0 || number > std::numeric_limits<std::int16_t>::max()) return false;
    const fs::path folder = ProjectFolderFor(s.storage.install_dir, number);
    if (!s.storage.files.IsFolder(folder)) {
        s.storage.dialogs.MessageBox("The project folder " + folder.string() + " does not exist.");
        return false;
    }
    s.project.ProjectFolder = folder;
    s.config.Actual_Project_Number = static_cast<std::int16_t>(number);
    // The next new project is numbered after every project in use.
    s.config.Last_Project = std::max(s.config.Last_Project, s.config.Actual_Project_Number);
    SaveConfig(s.storage, s.config);
    LoadProject(s.storage, number, number, s.project, s.plate);
    return true;
}

std::optional<int> LoadListedProject(SetupSession& s, std::string_view entry) {
    const auto number = ProjectNumberOfFolder(entry.substr(0, 6));
    if (!number) return std::nullopt;
    if (!LoadProjectNumber(s, *number)) return std::nullopt;
    return number;
}

SetupSnapshot TakeSetupSnapshot(const SetupSession& s) {
    const int n = s.config.Actual_Project_Number;
    SetupSnapshot snap;
    snap.text = std::to_string(n) + "\n" + FormatSetupFile(n, s.project) +
                FormatStatusFile(s.project) + FormatGroupNamesFile(s.project) +
                FormatChannelGroupsFile(s.project) + FormatWellMap(s.project.Wells) +
                s.project.WellsFailure;
    snap.project = s.project;
    snap.plate = s.plate;
    return snap;
}

bool SetupChanged(const SetupSession& s, const SetupSnapshot& snapshot) {
    return TakeSetupSnapshot(s).text != snapshot.text;
}

std::string UnsavedSetupQuestion(const SetupSession& s, std::string_view leaving) {
    return "The project " + ProjectCaption(s) +
           " has changes that are not saved.\r\nSave them before " + std::string(leaving) + "?";
}

bool CloseSetupWindow(SetupSession& s, const SetupSnapshot& snapshot, std::string_view leaving) {
    if (!SetupChanged(s, snapshot)) return true;
    const MsgResult answer =
        s.storage.dialogs.MessageBox(UnsavedSetupQuestion(s, leaving), MsgButtons::YesNoCancel);
    if (answer == MsgResult::Yes) {
        if (!SaveCurrentProject(s)) return false;
        SaveConfig(s.storage, s.config);
        return true;
    }
    if (answer != MsgResult::No) return false;
    // Discarded: the project goes back to what the window found, so the next recording and
    // the save at exit use what is on disk. The zero levels are the main window's and stay.
    const auto levels = s.project.ChannelThreshold;
    s.project = snapshot.project;
    s.project.ChannelThreshold = levels;
    s.plate = snapshot.plate;
    return true;
}

bool RenameCurrentProject(SetupSession& s) {
    Dialogs& dialogs = s.storage.dialogs;
    if (s.config.Actual_Project_Number == 0) {
        dialogs.MessageBox(kRenameDefaultRefusal);
        return false;
    }
    const auto name = dialogs.InputBox(kRenamePrompt);
    if (!name || name->empty()) return false;
    if (const auto refusal = CheckStorableText(*name, "The project name"); !refusal.empty()) {
        dialogs.MessageBox(refusal);
        return false;
    }
    s.project.Setup.Name = *name;
    return true;
}

bool RenameProjectFiles(StorageContext& storage, int number, const std::string& name) {
    if (number == 0) {
        storage.dialogs.MessageBox(kRenameDefaultRefusal);
        return false;
    }
    if (name.empty()) {
        storage.dialogs.MessageBox("The project name is empty.");
        return false;
    }
    const fs::path folder = ProjectFolderFor(storage.install_dir, number);
    if (!storage.files.IsFile(folder / kSetupFileName)) {
        storage.dialogs.MessageBox("No project " + FolderName(number) + ": " +
                                   (folder / kSetupFileName).string() + " does not exist.");
        return false;
    }
    return RenameProjectInFile(storage, folder, name) == name;
}

std::optional<double> ParseNumberBox(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double NumberBoxValue(std::string_view text) {
    return ParseNumberBox(text).value_or(0.0);
}

std::string NotANumberMessage(std::string_view text, std::string_view what, std::string_view kept) {
    return "Invalid value: \"" + std::string(text) + "\" is not a number. " + std::string(what) +
           " stays " + std::string(kept) + ".";
}

namespace {

// Text that is not a number: refused, the box shows the kept value again.
FieldEdit Refused(std::string_view text, std::string_view what, int kept) {
    return {std::to_string(kept), NotANumberMessage(text, what, std::to_string(kept))};
}

}  // namespace

FieldEdit EditAqLapse(ProjectSetup& setup, std::string_view text) {
    const auto parsed = ParseNumberBox(text);
    if (!parsed) return Refused(text, "The acquisition lapse (minutes)", setup.Aq_lapse);
    const double v = *parsed;
    if (v >= kMaxAqLapse) {
        setup.Aq_lapse = kMaxAqLapse;
        return {std::to_string(kMaxAqLapse), {}};
    }
    // Checked after rounding: 1.3 minutes would otherwise become a lapse of 1.
    const std::int16_t minutes = RoundInto(v, -1, kMaxAqLapse);
    if (minutes < kMinAqLapse) {
        setup.Aq_lapse = kMinAqLapse;
        return {std::to_string(kMinAqLapse), {}};
    }
    setup.Aq_lapse = minutes;
    return {};
}

FieldEdit EditRtBuffer(ProjectSetup& setup, std::string_view text) {
    const auto parsed = ParseNumberBox(text);
    if (!parsed) return Refused(text, "RT_Buffer", setup.RT_Buffer);
    const double v = *parsed;
    if (v < kMinRtBuffer || v > kMaxRtBuffer) {
        setup.RT_Buffer = kDefaultRtBuffer;
        return {std::to_string(kDefaultRtBuffer), {}};
    }
    setup.RT_Buffer = RoundInto(v, kMinRtBuffer, kMaxRtBuffer);
    return {};
}

namespace {

// A value kept in a 16-bit field: rounded, and shown again when the field cannot hold it.
FieldEdit EditInt16(std::int16_t& field, std::string_view text, int lo, std::string_view what) {
    const auto parsed = ParseNumberBox(text);
    if (!parsed) return Refused(text, what, field);
    const double v = *parsed;
    const int hi = std::numeric_limits<std::int16_t>::max();
    field = RoundInto(v, lo, hi);
    if (v < lo || v > hi) return {std::to_string(field), {}};
    return {};
}

}  // namespace

FieldEdit EditSampleRate(ProjectSetup& setup, std::string_view text) {
    return EditInt16(setup.Sample_Rate, text, std::numeric_limits<std::int16_t>::min(),
                     "The sample rate");
}

FieldEdit EditDspInterval(ProjectSetup& setup, std::string_view text) {
    return EditInt16(setup.DSP_Interval, text, kMinDspInterval, "The display interval");
}

void ChooseAqMode(ProjectSetup& setup, int index) {
    if (index >= 0 && index <= kMaxAqMode) setup.Aq_mode = static_cast<std::int16_t>(index);
}

void ChooseDspMethod(ProjectSetup& setup, int index) {
    if (index >= 0 && index <= kMaxDspMethod) setup.DSP_Method = static_cast<std::int16_t>(index);
}

void ChooseSaveCounts(ProjectSetup& setup, std::string_view choice) {
    setup.Save_counts = choice == "YES" ? 1 : 0;
}

void ChooseSaveReal(ProjectSetup& setup, std::string_view choice) {
    SetSavesRawSignals(setup, choice == "YES");
}

void SetToolMenu(ProjectState& project, int menu, bool ticked) {
    if (menu < 1 || menu > 6) return;
    project.ToolMenu[static_cast<std::size_t>(menu)] = ticked ? 1 : 0;
}

std::vector<std::string> ListPlateFormats(StorageContext& storage) {
    std::vector<std::string> out;
    for (std::string name : storage.files.ListFiles(storage.install_dir)) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name.size() < 5 || name.front() != 'w' || !name.ends_with(".dat")) continue;
        name.resize(name.size() - 4);
        out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

PlateChange ChangePlateFormat(SetupSession& s, const std::string& name) {
    Dialogs& dialogs = s.storage.dialogs;
    if (!IsValidPlateFormatName(name) ||
        !s.storage.files.IsFile(PlateFormatFilePath(s.storage, name))) {
        std::string known;
        for (const auto& format : ListPlateFormats(s.storage))
            known += (known.empty() ? "" : ", ") + format;
        const std::string what =
            IsValidPlateFormatName(name)
                ? PlateFormatFilePath(s.storage, name).string() + " does not exist"
                : "\"" + name + "\" is not a plate format name";
        dialogs.MessageBox(
            std::string(kPlateSelectionError) + "\r\nNo plate format \"" + name + "\": " + what +
            ". Plate formats of this installation: " + (known.empty() ? "none" : known) + ".");
        return PlateChange::Refused;
    }
    if (dialogs.MessageBox(kLoadPlateQuestion, MsgButtons::YesNo) != MsgResult::Yes)
        return PlateChange::Kept;
    // Read first: a file that cannot be read leaves the plate, its format and the groups alone.
    PlateMap fresh = s.plate;
    try {
        ReadPlateFormatFile(s.storage, name, fresh);
    } catch (const StorageError& e) {
        dialogs.MessageBox(FileErrorTag(PlateFormatFilePath(s.storage, name)) + " => " + e.what() +
                           "\r\nThe plate format was not changed.");
        return PlateChange::Failed;
    }
    ClearGroups(s.project);
    if (const std::string text = PlateFormatDescription(name); !text.empty())
        dialogs.MessageBox(text);
    s.project.Setup.Plate_format = name;
    s.plate = std::move(fresh);
    // The well map keeps what is on the new plate too; the rest is told, not kept silently.
    if (const auto left_out = KeepWellsOfPlate(s.project.Wells, s.plate); !left_out.empty()) {
        std::string names;
        for (std::size_t i = 0; i < left_out.size() && i < 12; ++i)
            names += (i > 0 ? ", " : "") + left_out[i];
        if (left_out.size() > 12) names += ", ...";
        const bool one = left_out.size() == 1;
        dialogs.MessageBox(std::to_string(left_out.size()) +
                           (one ? " well of the plate map (wells.csv) is"
                                : " wells of the plate map (wells.csv) are") +
                           " not on the new plate and " + (one ? "was" : "were") +
                           " taken out of the map: " + names + ".");
    }
    return PlateChange::Changed;
}

}  // namespace lumivo
