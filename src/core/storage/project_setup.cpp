#include "core/storage/project_setup.h"

#include <cmath>
#include <limits>
#include <vector>

#include "core/storage/field_record.h"

namespace lumivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSetupFile = "setup.dat";
constexpr const char* kSetupBackup = "setup.bak";
constexpr const char* kStatusFile = "status.dat";
constexpr const char* kThresholdFile = "threshld.dat";
constexpr const char* kGroupNamesFile = "groups.dat";
constexpr const char* kChannelGroupsFile = "chgroup.dat";
constexpr const char* kRecheckWarning = "Warning!! PLEASE Re-Check setup values before RUN";

constexpr const char* kSetupHeaders[10] = {
    "Project Setup: <Num_proj>,<Name>,<Working_folder>,<Plate_format>",
    "<Aq_mode>,<Aq_lapse>,<Sample_Rate>,<RT_Buffer>,<DSP_Method>,<DSP_Interval>",
    "<Binary_Acq>,<Threshold_Counter>,<Cal_value>,<Cal_mode>,<Save_counts>,<Save_real>",
    "Tools: <Menu1:Cal>, <Menu2:Light>, <Menu3:Temp>, <Menu4>, <Menu5>, <Menu6>",
    "Mn1: <Organism>, <Enab_Cal>, <Enab_Zero>, <SNRx10>,,",
    "Mn2: <Enable>, <Time_ON>, <v3:Time_OFF>,,,",
    "Mn3: <v1:Enable>, <v2:Tempx10>,,,,",
    "Mn4: ,,,,,",
    "Mn5: ,,,,,",
    "Mn6: ,,,,,",
};

// What the user can do about a per-channel file that could not be read.
constexpr const char* kPerChannelAdvice =
    "Check the project in the setup window and save it to rewrite the file.";

// A value of a record that cannot be converted is reported with its line.
template <typename Convert>
auto OnLine(const RecordReader& in, Convert convert) {
    try {
        return convert();
    } catch (const StorageError& e) {
        throw StorageError("line " + std::to_string(in.line_number()) + ": " + e.what());
    }
}

std::array<std::int16_t, 6> SixInts(RecordReader& in) {
    const auto f = in.Record(6);
    return OnLine(in, [&] {
        std::array<std::int16_t, 6> v{};
        for (std::size_t i = 0; i < 6; ++i) v[i] = FieldToInt16(f[i]);
        return v;
    });
}

void ApplyLine2Defaults(ProjectSetup& s, const fs::path& install, int number) {
    const ProjectSetup d;
    s.Name = d.Name;
    s.Working_folder = (install / ("p" + FiveDigits(number))).string() + "/";
    s.Plate_format = d.Plate_format;
}

// The six whole numbers of setup.dat's lines 4 and 6, in their order in the file.
using SetupFields = std::array<std::int16_t ProjectSetup::*, 6>;
constexpr SetupFields kLine4Fields = {&ProjectSetup::Aq_mode,     &ProjectSetup::Aq_lapse,
                                      &ProjectSetup::Sample_Rate, &ProjectSetup::RT_Buffer,
                                      &ProjectSetup::DSP_Method,  &ProjectSetup::DSP_Interval};
constexpr SetupFields kLine6Fields = {&ProjectSetup::Binary_Acq,  &ProjectSetup::Threshold_Counter,
                                      &ProjectSetup::Cal_value,   &ProjectSetup::Cal_mode,
                                      &ProjectSetup::Save_counts, &ProjectSetup::Save_real};

void SetFields(ProjectSetup& s, const SetupFields& fields, const std::array<std::int16_t, 6>& v) {
    for (std::size_t i = 0; i < fields.size(); ++i) s.*fields[i] = v[i];
}

void ApplyDefaults(ProjectSetup& s, const SetupFields& fields) {
    const ProjectSetup d;
    for (const auto field : fields) s.*field = d.*field;
}

void ApplyLine4Defaults(ProjectSetup& s) {
    ApplyDefaults(s, kLine4Fields);
}

void ApplyLine6Defaults(ProjectSetup& s) {
    ApplyDefaults(s, kLine6Fields);
}

// Replaces a value outside [lo, hi] by its default and notes the correction.
void Keep(std::int16_t& value, const char* name, int lo, int hi, std::int16_t fallback,
          std::vector<std::string>& notes, const std::string& tag) {
    if (value >= lo && value <= hi) return;
    notes.push_back(tag + " " + name + "=" + std::to_string(value) + " outside " +
                    std::to_string(lo) + ".." + std::to_string(hi) + " => Loading default value " +
                    std::to_string(fallback));
    value = fallback;
}

void ValidateLine4(ProjectSetup& s, SetupUse use, std::vector<std::string>& notes,
                   const std::string& tag) {
    const ProjectSetup d;
    Keep(s.Aq_mode, "Aq_mode", 0, kMaxAqMode, d.Aq_mode, notes, tag);
    Keep(s.Aq_lapse, "Aq_lapse", use == SetupUse::Recording ? kMinAqLapse : kMinStoredAqLapse,
         kMaxAqLapse, d.Aq_lapse, notes, tag);
    Keep(s.RT_Buffer, "RT_Buffer", use == SetupUse::Recording ? kMinRtBuffer : kMinStoredRtBuffer,
         kMaxRtBuffer, d.RT_Buffer, notes, tag);
    Keep(s.DSP_Method, "DSP_Method", 0, kMaxDspMethod, d.DSP_Method, notes, tag);
    Keep(s.DSP_Interval, "DSP_Interval", kMinDspInterval, std::numeric_limits<std::int16_t>::max(),
         d.DSP_Interval, notes, tag);
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        if (!out.empty()) out += "\r\n";
        out += l;
    }
    return out;
}

// The outcome of one reading of setup.dat.
struct SetupReading {
    int stage = 1;  // how far reading got
    bool failed = false;
    std::string reason;              // what was wrong, when failed
    std::vector<std::string> notes;  // values replaced by their defaults
    std::string news;                // the project-number warning, or ""
};

// One reading of setup.dat into `project`. Writes nothing.
SetupReading ReadSetupOnce(StorageContext& ctx, int number, int actual_project_number,
                           ProjectState& project, SetupUse use) {
    const fs::path file = project.ProjectFolder / kSetupFile;
    const std::string tag = FileErrorTag(file);
    SetupReading r;
    int& stage = r.stage;
    try {
        const int n = CountFileLines(ctx, file);
        RecordReader in(ctx.files.ReadFile(file));
        std::string num_proj;
        ProjectSetup& s = project.Setup;
        if (n >= 6) {
            in.SkipLine();
            auto f = in.Record(4);
            num_proj = f[0].text;
            s.Name = f[1].text;
            s.Working_folder = f[2].text;
            s.Plate_format = f[3].text;
            stage = 2;
            in.SkipLine();
            SetFields(s, kLine4Fields, SixInts(in));
            ValidateLine4(s, use, r.notes, tag);
            stage = 3;
            in.SkipLine();
            SetFields(s, kLine6Fields, SixInts(in));
        }
        stage = 4;
        if (n >= 20) {
            in.SkipLine();
            const auto m = SixInts(in);
            for (std::size_t k = 0; k < 6; ++k) project.ToolMenu[k + 1] = m[k];
            stage = 5;
            for (std::size_t k = 1; k <= 6; ++k) {
                in.SkipLine();
                project.ToolParams[k] = SixInts(in);
                stage = 5 + static_cast<int>(k);
            }
        }
        long long id = 0;
        if (n < 6)
            throw StorageError("the file has " + std::to_string(n) +
                               " lines, fewer than the 6 that hold the project's values");
        if (!ParseWholeNumber(num_proj, id))
            throw StorageError("line 2: the project number \"" + num_proj + "\" is not a number");
        if (id != number) {
            r.news = "Warning: Project ID# <> Folder Name [p00" +
                     std::to_string(actual_project_number) + "]";
            ctx.dialogs.MessageBox(r.news);
        }
    } catch (const StorageError& e) {
        r.failed = true;
        r.reason = e.what();
    }
    return r;
}

void ApplySetupDefaults(ProjectState& p, int stage, const fs::path& install, int number) {
    if (stage < 2) ApplyLine2Defaults(p.Setup, install, number);
    if (stage < 3) ApplyLine4Defaults(p.Setup);
    if (stage < 4) ApplyLine6Defaults(p.Setup);
    if (stage < 5) p.ToolMenu = DefaultToolMenu();
    for (int row = 1; row <= 6; ++row)
        if (stage < 5 + row)
            p.ToolParams[static_cast<std::size_t>(row)] = DefaultToolParamsRow(row);
}

// Reads a per-channel file: a header, then up to 385 records of (number text, value) by
// position. `take` stores one value; its errors are reported with the line.
template <typename Take>
void ReadPerChannel(StorageContext& ctx, const fs::path& file, Take take) {
    RecordReader in(ctx.files.ReadFile(file));
    in.SkipLine();
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelTableSize) && in.HasData(); ++i) {
        const auto f = in.Record(2);
        OnLine(in, [&] { take(i, f[1]); });
    }
}

void ReadChannelStatusFile(StorageContext& ctx, ProjectState& project) {
    ReadPerChannel(ctx, project.ProjectFolder / kStatusFile, [&](std::size_t i, const Field& f) {
        project.ChannelStatus[i] = FieldToInt16(f);
    });
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
        project.ChannelEnabled[i] = project.ChannelStatus[i] != 0 ? -1 : 0;
}

void ReadThresholdFile(StorageContext& ctx, ProjectState& project) {
    ReadPerChannel(ctx, project.ProjectFolder / kThresholdFile, [&](std::size_t i, const Field& f) {
        project.ChannelThreshold[i] = FieldToDouble(f);
    });
}

void ReadGroupNamesFile(StorageContext& ctx, ProjectState& project) {
    ReadPerChannel(ctx, project.ProjectFolder / kGroupNamesFile,
                   [&](std::size_t i, const Field& f) { project.GroupName[i] = f.text; });
}

// Reads chgroup.dat; a group outside -1..383 (it would index past the group tables) frees
// that channel alone, and one message says how many were freed.
void ReadChannelGroupsFile(StorageContext& ctx, ProjectState& project) {
    const fs::path file = project.ProjectFolder / kChannelGroupsFile;
    int freed = 0;
    std::string first;  // the first such value and its line
    ReadPerChannel(ctx, file, [&](std::size_t i, const Field& f) {
        std::int16_t g = FieldToInt16(f);
        if (g < kFreeGroup || g > kMaxGroup) {
            if (freed++ == 0) first = std::to_string(g) + " on line " + std::to_string(i + 2);
            g = kFreeGroup;
        }
        project.ChannelGroup[i] = g;
    });
    if (freed == 0) return;
    ctx.dialogs.MessageBox(
        "Warning [" + file.string() + "] " + std::to_string(freed) +
        (freed == 1 ? " channel has" : " channels have") + " a group outside -1.." +
        std::to_string(kMaxGroup) + " (first: " + first + ") => Loaded as free (-1)\r\n" +
        "The file is unchanged until the project is saved; assign these channels to groups in "
        "the setup window and save the project.");
}

// Loads one per-channel file; when it cannot be read, tells the user (the file, what was wrong
// and what to do) and loads the defaults.
template <typename Read, typename Defaults>
bool LoadPerChannelFile(StorageContext& ctx, ProjectState& project, const char* name,
                        const char* loading, Read read, Defaults defaults) {
    try {
        read(ctx, project);
        return true;
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox(FileErrorTag(project.ProjectFolder / name) + " => " + loading +
                               "\r\n" + e.what() + ". " + kPerChannelAdvice);
        defaults(project);
        return false;
    }
}

}  // namespace

ToolMenuTable DefaultToolMenu() {
    return {0, 1, 0, 0, 0, 0, 0};
}

std::array<std::int16_t, 6> DefaultToolParamsRow(int row) {
    switch (row) {
        case 1:
            return {0, 1, 1, 0, 0, 0};
        case 2:
            return {0, 9, 21, 0, 0, 0};
        case 3:
            return {0, 200, 0, 0, 0, 0};
        default:
            return {0, 0, 0, 0, 0, 0};
    }
}

void SetDefaultChannelEnabled(ProjectState& p) {
    p.ChannelEnabled.fill(-1);
}
void SetDefaultThresholds(ProjectState& p) {
    p.ChannelThreshold.fill(3.0);
}

void SetDefaultGroupNames(ProjectState& p) {
    for (std::size_t k = 0; k < p.GroupName.size(); ++k)
        p.GroupName[k] = k < 12 ? "Group" + std::to_string(k) : "Free";
}

void SetDefaultChannelGroups(ProjectState& p) {
    p.ChannelGroup.fill(kFreeGroup);
    for (int c = 0; c < kBeamColumns; ++c)
        for (int r = 0; r < kBeamRows; ++r)
            p.ChannelGroup[static_cast<std::size_t>(c * kBeamRows + r)] =
                static_cast<std::int16_t>((c + 1) / 2);
}

ProjectState::ProjectState() {
    for (int row = 1; row <= 6; ++row)
        ToolParams[static_cast<std::size_t>(row)] = DefaultToolParamsRow(row);
    ChannelStatus.fill(1);
    SetDefaultChannelEnabled(*this);
    SetDefaultThresholds(*this);
    SetDefaultGroupNames(*this);
    SetDefaultChannelGroups(*this);
}

std::string FiveDigits(long long number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return number < 0 ? "-" + digits : digits;
}

fs::path ProjectFolderFor(const fs::path& install_dir, int number) {
    if (number == 0) return install_dir;
    return install_dir / ("p" + FiveDigits(number));
}

void SelectProjectFolder(StorageContext& ctx, GlobalConfig& config, ProjectState& project) {
    const fs::path folder = ProjectFolderFor(ctx.install_dir, config.Actual_Project_Number);
    if (config.Actual_Project_Number < 1 || !ctx.files.IsFolder(folder)) {
        config.Actual_Project_Number = 0;
        project.ProjectFolder = ctx.install_dir;
    } else {
        project.ProjectFolder = folder;
    }
}

SetupLoadResult LoadProjectSetup(StorageContext& ctx, int number, int actual_project_number,
                                 ProjectState& project, SetupUse use) {
    SetupLoadResult result;
    // Each source of recovery is used at most once, so a restored file that is itself damaged
    // ends in the defaults instead of restoring again without end.
    bool tried_backup = false;
    bool tried_acquisition = false;
    const std::string tag = FileErrorTag(project.ProjectFolder / kSetupFile);
    while (true) {
        const SetupReading reading =
            ReadSetupOnce(ctx, number, actual_project_number, project, use);
        const int stage = reading.stage;
        result.news = reading.news;
        result.stage = stage;
        if (!reading.failed) {
            if (!reading.notes.empty()) {
                ctx.dialogs.MessageBox(JoinLines(reading.notes));
                ctx.dialogs.MessageBox(kRecheckWarning);
            }
            result.ok = true;
            return result;
        }
        result.ok = false;
        fs::path source;  // the file the setup was restored from
        if (number > 0 && stage < 11) {
            const fs::path working = ProjectFolderFor(ctx.install_dir, number);
            if (!tried_backup && ctx.files.IsFile(working / kSetupBackup)) {
                tried_backup = true;
                if (CopyFileChecked(ctx, working / kSetupBackup, working / kSetupFile) == 1)
                    source = working / kSetupBackup;
            }
            if (source.empty() && !tried_acquisition) {
                tried_acquisition = true;
                const std::string alternative = FindLatestAcquisition(ctx, working);
                const fs::path candidate = working / alternative / kSetupFile;
                if (!alternative.empty() && ctx.files.IsFile(candidate) &&
                    CountFileLines(ctx, candidate) > 16 &&
                    CopyFileChecked(ctx, candidate, project.ProjectFolder / kSetupFile) == 1)
                    source = candidate;
            }
        }
        if (!source.empty()) {
            result.restored = true;
            ctx.dialogs.MessageBox(tag + " ID#" + std::to_string(stage) +
                                   " => Loading values from: " + source.string() + "\r\n" +
                                   reading.reason);
            ctx.dialogs.MessageBox(kRecheckWarning);
            continue;
        }
        ctx.dialogs.MessageBox(tag + " ID#" + std::to_string(stage) +
                               " => Loading default values...\r\n" + reading.reason);
        ctx.dialogs.MessageBox(kRecheckWarning);
        ApplySetupDefaults(project, stage, ctx.install_dir, number);
        return result;
    }
}

// `number` is not needed: the messages name the file by its path.
bool LoadChannelStatus(StorageContext& ctx, int, ProjectState& project) {
    return LoadPerChannelFile(ctx, project, kStatusFile, "Loading default values...",
                              ReadChannelStatusFile, SetDefaultChannelEnabled);
}

bool LoadThresholds(StorageContext& ctx, int, ProjectState& project) {
    return LoadPerChannelFile(ctx, project, kThresholdFile, "Loading default values...",
                              ReadThresholdFile, SetDefaultThresholds);
}

bool LoadGroupNames(StorageContext& ctx, int, ProjectState& project) {
    return LoadPerChannelFile(ctx, project, kGroupNamesFile, "Loading default groups...",
                              ReadGroupNamesFile, SetDefaultGroupNames);
}

bool LoadChannelGroups(StorageContext& ctx, int, ProjectState& project) {
    return LoadPerChannelFile(ctx, project, kChannelGroupsFile, "Loading default groups...",
                              ReadChannelGroupsFile, SetDefaultChannelGroups);
}

ProjectLoadResult LoadProject(StorageContext& ctx, int number, int actual_project_number,
                              ProjectState& project, PlateMap& plate, SetupUse use) {
    ProjectLoadResult r;
    r.setup = LoadProjectSetup(ctx, number, actual_project_number, project, use);
    r.status_ok = LoadChannelStatus(ctx, number, project);
    r.thresholds_ok = LoadThresholds(ctx, number, project);
    r.group_names_ok = LoadGroupNames(ctx, number, project);
    r.groups_ok = LoadChannelGroups(ctx, number, project);
    r.plate_ok = LoadPlateFormat(ctx, project.Setup.Plate_format, plate);
    // Only the current project's map is told: where a project is only read (reports, the
    // browser) its map is not used, and those that show one say so themselves.
    r.wells_ok = LoadProjectWellMap(ctx, project, plate, use == SetupUse::Recording);
    return r;
}

bool LoadProjectWellMap(StorageContext& ctx, ProjectState& project, const PlateMap& plate,
                        bool tell) {
    std::string failure;
    auto map = ReadWellMap(ctx, project.ProjectFolder, PlateWellNames(plate), &failure);
    project.WellsFailure.clear();
    if (map) {
        project.Wells = std::move(*map);
        return true;
    }
    project.Wells = WellMap{};
    project.WellsFailure = failure;
    if (tell)
        ctx.dialogs.MessageBox(
            failure +
            "\r\nThe project is used without its plate map; the file stays as it is "
            "until a map is imported or edited in the project setup.");
    return false;
}

std::string ProjectLoadFailure::Describe() const {
    return file.string() + (stage > 0 ? " ID#" + std::to_string(stage) : std::string()) + ": " +
           reason;
}

std::optional<ProjectLoadFailure> LoadProjectAsStored(StorageContext& ctx, int number,
                                                      ProjectState& project, PlateMap& plate,
                                                      SetupUse use) {
    const SetupReading reading = ReadSetupOnce(ctx, number, number, project, use);
    if (reading.failed)
        return ProjectLoadFailure{project.ProjectFolder / kSetupFile, reading.stage,
                                  reading.reason};
    if (!reading.notes.empty()) ctx.dialogs.MessageBox(JoinLines(reading.notes));
    using Reader = void (*)(StorageContext&, ProjectState&);
    const std::pair<const char*, Reader> files[] = {
        {kStatusFile, ReadChannelStatusFile},
        {kThresholdFile, ReadThresholdFile},
        {kGroupNamesFile, ReadGroupNamesFile},
        {kChannelGroupsFile, ReadChannelGroupsFile},
    };
    for (const auto& [name, read] : files) {
        try {
            read(ctx, project);
        } catch (const StorageError& e) {
            return ProjectLoadFailure{project.ProjectFolder / name, 0, e.what()};
        }
    }
    int stage = 0;
    try {
        ReadPlateFormatFile(ctx, project.Setup.Plate_format, plate, &stage);
    } catch (const StorageError& e) {
        return ProjectLoadFailure{PlateFormatFilePath(ctx, project.Setup.Plate_format), stage,
                                  e.what()};
    }
    // Not told: a recording (and a resume after a power cut, with nobody there to answer a
    // message) goes on without it; the setup window shows why it was not read.
    (void)LoadProjectWellMap(ctx, project, plate, false);
    return std::nullopt;
}

std::string FormatSetupFile(int actual_project_number, const ProjectState& project) {
    const ProjectSetup& s = project.Setup;
    RecordWriter out;
    out.Header(kSetupHeaders[0]);
    out.Int(actual_project_number)
        .Text(s.Name)
        .Text(s.Working_folder)
        .Text(s.Plate_format)
        .EndLine();
    out.Header(kSetupHeaders[1]);
    for (const auto field : kLine4Fields) out.Int(s.*field);
    out.EndLine();
    out.Header(kSetupHeaders[2]);
    for (const auto field : kLine6Fields) out.Int(s.*field);
    out.EndLine();
    out.Header(kSetupHeaders[3]);
    for (std::size_t k = 1; k <= 6; ++k) out.Int(project.ToolMenu[k]);
    out.EndLine();
    for (std::size_t row = 1; row <= 6; ++row) {
        out.Header(kSetupHeaders[3 + row]);
        for (std::size_t col = 0; col < 6; ++col) out.Int(project.ToolParams[row][col]);
        out.EndLine();
    }
    return out.Take();
}

namespace {

// A per-channel file: the header, then one record per channel 0..383, its number followed by
// what `value` writes for it.
template <typename Value>
std::string FormatChannelRecords(const char* header, Value value) {
    RecordWriter out;
    out.Header(header);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i) {
        value(out.Int(static_cast<long long>(i)), i);
        out.EndLine();
    }
    return out.Take();
}

}  // namespace

std::string FormatStatusFile(const ProjectState& project) {
    return FormatChannelRecords("<Channel>, <Enabled>", [&](RecordWriter& out, std::size_t i) {
        out.Int(project.ChannelEnabled[i] != 0 ? 1 : 0);
    });
}

std::string FormatThresholdFile(const ProjectState& project) {
    return FormatChannelRecords("<Channel>, <Threshold>", [&](RecordWriter& out, std::size_t i) {
        out.Double(RoundDecimals(project.ChannelThreshold[i], 3));
    });
}

std::string FormatGroupNamesFile(const ProjectState& project) {
    return FormatChannelRecords(
        "<Group_Number>, <Group_Name>",
        [&](RecordWriter& out, std::size_t i) { out.Text(project.GroupName[i]); });
}

std::string FormatChannelGroupsFile(const ProjectState& project) {
    return FormatChannelRecords(
        "<Channel>, <Group: -1=Free>",
        [&](RecordWriter& out, std::size_t i) { out.Int(project.ChannelGroup[i]); });
}

void SaveProjectFiles(StorageContext& ctx, const fs::path& folder, int actual_project_number,
                      const ProjectState& project) {
    // Refuse what cannot be stored before touching any file.
    std::string refusal = CheckStorableText(project.Setup.Name, "The project name");
    if (refusal.empty()) refusal = CheckStorableText(project.Setup.Working_folder, "The folder");
    if (refusal.empty())
        refusal = CheckStorableText(project.Setup.Plate_format, "The plate format");
    for (std::size_t k = 0; refusal.empty() && k < static_cast<std::size_t>(kChannelCount); ++k)
        refusal = CheckStorableText(project.GroupName[k], "The name of group " + std::to_string(k));
    if (!refusal.empty()) throw StorageError(refusal);

    const FileContent files[] = {
        {folder / kSetupFile, FormatSetupFile(actual_project_number, project)},
        {folder / kStatusFile, FormatStatusFile(project)},
        {folder / kThresholdFile, FormatThresholdFile(project)},
        {folder / kGroupNamesFile, FormatGroupNamesFile(project)},
        {folder / kChannelGroupsFile, FormatChannelGroupsFile(project)},
    };
    (void)CopyFileChecked(ctx, folder / kSetupFile, folder / kSetupBackup);
    ctx.files.WriteFiles(files);
}

void SaveProjectSetup(StorageContext& ctx, int actual_project_number, const ProjectState& project) {
    SaveProjectFiles(ctx, project.ProjectFolder, actual_project_number, project);
}

std::string GetProjectTitle(StorageContext& ctx, const fs::path& folder) {
    try {
        const fs::path setup = folder / kSetupFile;
        const fs::path backup = folder / kSetupBackup;
        int n = ctx.files.IsFile(setup) ? CountFileLines(ctx, setup) : 0;
        if (n < 6) {
            if (ctx.files.IsFile(backup)) {
                const int nb = CountFileLines(ctx, backup);
                if (nb >= 6 && CopyFileChecked(ctx, backup, setup) == 1) {
                    n = nb;
                    ctx.dialogs.MessageBox("Error reading Setup.dat -> recovered from Setup.bak");
                }
            } else {
                const std::string latest = FindLatestAcquisition(ctx, folder);
                const fs::path candidate = folder / latest / kSetupFile;
                if (!latest.empty() && ctx.files.IsFile(candidate)) {
                    const int nc = CountFileLines(ctx, candidate);
                    if (nc >= 6 && CopyFileChecked(ctx, candidate, setup) == 1) {
                        n = nc;
                        ctx.dialogs.MessageBox("Error reading Setup.dat -> recovered from " +
                                               (folder / latest).string());
                    }
                }
            }
        }
        if (n < 6) return "<Project> p: SETUP NOT FOUND!!";
        RecordReader in(ctx.files.ReadFile(setup));
        in.SkipLine();
        const auto f = in.Record(4);
        long long id = 0;
        if (!ParseWholeNumber(f[0].text, id)) throw StorageError("project number");
        return "<Project> p" + FiveDigits(id) + ": " + f[1].text;
    } catch (const StorageError&) {
        return "ERROR on SETUP.DAT FILE!!!";
    }
}

std::string RenameProjectInFile(StorageContext& ctx, const fs::path& folder,
                                const std::string& new_name) {
    const fs::path setup = folder / kSetupFile;
    if (!ctx.files.IsFile(setup)) return new_name;
    if (auto refusal = CheckStorableText(new_name, "The project name"); !refusal.empty()) {
        ctx.dialogs.MessageBox(refusal);
        return "";
    }
    // The new text is built before anything is written: a file that cannot be renamed keeps
    // its bytes and gets no backup copy.
    std::string renamed;
    try {
        const LineText lines(ctx.files.ReadFile(setup));
        if (lines.size() < 2) throw StorageError("the file has no line 2 with the project's name");
        RecordWriter out;
        for (std::size_t i = 0; i < lines.size() && i < 51; ++i) {
            if (i != 1) {
                out.Line(lines[i]);
                continue;
            }
            // Only the name field changes; every other field keeps its exact bytes.
            auto fields = SplitRecord(lines[i]);
            if (fields.size() < 4) throw StorageError("line 2 does not hold the project's name");
            long long id = 0;
            if (!ParseWholeNumber(fields[0].text, id))
                throw StorageError("line 2: the project number \"" + fields[0].text +
                                   "\" is not a number");
            for (std::size_t k = 0; k < fields.size(); ++k)
                out.RawField(k == 1 ? QuoteField(new_name) : fields[k].raw);
            out.EndLine();
        }
        renamed = out.Take();
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox(FileErrorTag(setup) + " => The project was not renamed\r\n" +
                               e.what());
        return "";
    }
    if (CopyFileChecked(ctx, setup, folder / kSetupBackup) != 1) {
        ctx.dialogs.MessageBox("error\r\nCannot copy " + setup.string() + " to " +
                               (folder / kSetupBackup).string() +
                               "; the project was not renamed. Check that the folder is writable.");
        return "";
    }
    try {
        ctx.files.WriteFile(setup, std::move(renamed));
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox(FileErrorTag(setup) + " => The project was not renamed\r\n" +
                               e.what());
        return "";
    }
    return new_name;
}

std::string FindLatestAcquisition(StorageContext& ctx, const fs::path& folder) {
    std::string best;
    long long best_key = -1;
    for (const auto& name : ctx.files.ListSubfolders(folder)) {
        if (name.size() != 13 || name[8] != '_') continue;
        // The key is the whole date and time, yyyymmddhhmm, so years compare first.
        long long key = 0;
        bool digits = true;
        for (std::size_t i = 0; i < 13 && digits; ++i) {
            if (i == 8) continue;
            if (name[i] < '0' || name[i] > '9') digits = false;
            key = key * 10 + (name[i] - '0');
        }
        if (!digits) continue;
        if (key > best_key) {
            best_key = key;
            best = name;
        }
    }
    return best;
}

int CountFileLines(StorageContext& ctx, const fs::path& path) {
    try {
        const LineText lines(ctx.files.ReadFile(path));
        return static_cast<int>(lines.size());
    } catch (...) {
        return 0;
    }
}

int CopyFileChecked(StorageContext& ctx, const fs::path& source, const fs::path& destination) {
    try {
        ctx.files.WriteFile(destination, ctx.files.ReadFile(source));
        return 1;
    } catch (...) {
        return -1;
    }
}

std::int32_t FreeDiskMegabytes(StorageContext& ctx, const fs::path& path) {
    const auto bytes = ctx.files.FreeBytes(path);
    if (!bytes) return -1;
    const double mb = std::nearbyint(static_cast<double>(*bytes) / 1024.0 / 1024.0);
    if (mb >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(mb);
}

MsgResult AcquisitionFileDialogs::MessageBox(const std::string& text, MsgButtons buttons,
                                             const std::string& title) {
    if (text.rfind("Warning: Project ID#", 0) == 0) return MsgResult::Ok;
    return inner_.MessageBox(text, buttons, title);
}

}  // namespace lumivo
