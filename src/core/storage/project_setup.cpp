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

std::string FileTag(int number, const char* file) {
    return "Error [\\p" + FiveDigits(number) + "\\" + file + "]";
}

std::array<std::int16_t, 6> SixInts(const std::vector<Field>& f) {
    std::array<std::int16_t, 6> v{};
    for (std::size_t i = 0; i < 6; ++i) v[i] = FieldToInt16(f[i]);
    return v;
}

void ApplyLine2Defaults(ProjectSetup& s, const fs::path& install, int number) {
    const ProjectSetup d;
    s.Name = d.Name;
    s.Working_folder = (install / ("p" + FiveDigits(number))).string() + "/";
    s.Plate_format = d.Plate_format;
}

void ApplyLine4Defaults(ProjectSetup& s) {
    const ProjectSetup d;
    s.Aq_mode = d.Aq_mode;
    s.Aq_lapse = d.Aq_lapse;
    s.Sample_Rate = d.Sample_Rate;
    s.RT_Buffer = d.RT_Buffer;
    s.DSP_Method = d.DSP_Method;
    s.DSP_Interval = d.DSP_Interval;
}

void ApplyLine6Defaults(ProjectSetup& s) {
    const ProjectSetup d;
    s.Binary_Acq = d.Binary_Acq;
    s.Threshold_Counter = d.Threshold_Counter;
    s.Cal_value = d.Cal_value;
    s.Cal_mode = d.Cal_mode;
    s.Save_counts = d.Save_counts;
    s.Save_real = d.Save_real;
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

void ValidateLine4(ProjectSetup& s, std::vector<std::string>& notes, const std::string& tag) {
    const ProjectSetup d;
    Keep(s.Aq_mode, "Aq_mode", 0, kMaxAqMode, d.Aq_mode, notes, tag);
    Keep(s.Aq_lapse, "Aq_lapse", kMinAqLapse, kMaxAqLapse, d.Aq_lapse, notes, tag);
    Keep(s.RT_Buffer, "RT_Buffer", kMinRtBuffer, kMaxRtBuffer, d.RT_Buffer, notes, tag);
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

// One reading of setup.dat into `project`; returns the stage reached and sets `failed`.
int ReadSetupOnce(StorageContext& ctx, int number, int actual_project_number, ProjectState& project,
                  bool& failed, std::vector<std::string>& notes, std::string& news) {
    const fs::path file = project.ProjectFolder / kSetupFile;
    const std::string tag = FileTag(number, kSetupFile);
    int stage = 1;
    failed = false;
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
            const auto a = SixInts(in.Record(6));
            s.Aq_mode = a[0];
            s.Aq_lapse = a[1];
            s.Sample_Rate = a[2];
            s.RT_Buffer = a[3];
            s.DSP_Method = a[4];
            s.DSP_Interval = a[5];
            ValidateLine4(s, notes, tag);
            stage = 3;
            in.SkipLine();
            const auto b = SixInts(in.Record(6));
            s.Binary_Acq = b[0];
            s.Threshold_Counter = b[1];
            s.Cal_value = b[2];
            s.Cal_mode = b[3];
            s.Save_counts = b[4];
            s.Save_real = b[5];
        }
        stage = 4;
        if (n >= 20) {
            in.SkipLine();
            const auto m = SixInts(in.Record(6));
            for (std::size_t k = 0; k < 6; ++k) project.ToolMenu[k + 1] = m[k];
            stage = 5;
            for (std::size_t k = 1; k <= 6; ++k) {
                in.SkipLine();
                project.ToolParams[k] = SixInts(in.Record(6));
                stage = 5 + static_cast<int>(k);
            }
        }
        long long id = 0;
        if (!ParseWholeNumber(num_proj, id)) throw StorageError("project number missing");
        if (id != number) {
            news = "Warning: Project ID# <> Folder Name [p00" +
                   std::to_string(actual_project_number) + "]";
            ctx.dialogs.MessageBox(news);
        }
    } catch (const StorageError&) {
        failed = true;
    }
    return stage;
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
// position. `take` stores one value.
template <typename Take>
void ReadPerChannel(StorageContext& ctx, const fs::path& file, Take take) {
    RecordReader in(ctx.files.ReadFile(file));
    in.SkipLine();
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelTableSize) && in.HasData(); ++i)
        take(i, in.Record(2)[1]);
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
                                 ProjectState& project) {
    SetupLoadResult result;
    // Each source of recovery is used at most once, so a restored file that is itself damaged
    // ends in the defaults instead of restoring again without end.
    bool tried_backup = false;
    bool tried_acquisition = false;
    const std::string tag = FileTag(number, kSetupFile);
    while (true) {
        bool failed = false;
        std::vector<std::string> notes;
        result.news.clear();
        const int stage =
            ReadSetupOnce(ctx, number, actual_project_number, project, failed, notes, result.news);
        result.stage = stage;
        if (!failed) {
            if (!notes.empty()) {
                ctx.dialogs.MessageBox(JoinLines(notes));
                ctx.dialogs.MessageBox(kRecheckWarning);
            }
            result.ok = true;
            return result;
        }
        result.ok = false;
        std::string alternative;
        bool restored = false;
        if (number > 0 && stage < 11) {
            const fs::path working = ProjectFolderFor(ctx.install_dir, number);
            if (!tried_backup && ctx.files.IsFile(working / kSetupBackup)) {
                tried_backup = true;
                restored = CopyFileChecked(ctx, working / kSetupBackup, working / kSetupFile) == 1;
            }
            if (!restored && !tried_acquisition) {
                tried_acquisition = true;
                alternative = FindLatestAcquisition(ctx, working);
                const fs::path candidate = working / alternative / kSetupFile;
                if (!alternative.empty() && ctx.files.IsFile(candidate) &&
                    CountFileLines(ctx, candidate) > 16)
                    restored =
                        CopyFileChecked(ctx, candidate, project.ProjectFolder / kSetupFile) == 1;
                if (!restored) alternative.clear();
            }
        }
        if (restored) {
            result.restored = true;
            ctx.dialogs.MessageBox(tag + " ID#" + std::to_string(stage) +
                                   " => Loading values from: p" + FiveDigits(number) + "\\" +
                                   alternative);
            ctx.dialogs.MessageBox(kRecheckWarning);
            continue;
        }
        ctx.dialogs.MessageBox(tag + " ID#" + std::to_string(stage) +
                               " => Loading default values...");
        ctx.dialogs.MessageBox(kRecheckWarning);
        ApplySetupDefaults(project, stage, ctx.install_dir, number);
        return result;
    }
}

bool LoadChannelStatus(StorageContext& ctx, int number, ProjectState& project) {
    bool ok = true;
    try {
        ReadPerChannel(
            ctx, project.ProjectFolder / kStatusFile,
            [&](std::size_t i, const Field& f) { project.ChannelStatus[i] = FieldToInt16(f); });
        for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
            project.ChannelEnabled[i] = project.ChannelStatus[i] != 0 ? -1 : 0;
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox(FileTag(number, kStatusFile) + " => Loading default values...");
        SetDefaultChannelEnabled(project);
        ok = false;
    }
    return ok;
}

bool LoadThresholds(StorageContext& ctx, int number, ProjectState& project) {
    try {
        ReadPerChannel(
            ctx, project.ProjectFolder / kThresholdFile,
            [&](std::size_t i, const Field& f) { project.ChannelThreshold[i] = FieldToDouble(f); });
        return true;
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox(FileTag(number, kThresholdFile) + " => Loading default values...");
        SetDefaultThresholds(project);
        return false;
    }
}

bool LoadGroupNames(StorageContext& ctx, int number, ProjectState& project) {
    try {
        ReadPerChannel(ctx, project.ProjectFolder / kGroupNamesFile,
                       [&](std::size_t i, const Field& f) { project.GroupName[i] = f.text; });
        return true;
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox(FileTag(number, kGroupNamesFile) + " => Loading default groups...");
        SetDefaultGroupNames(project);
        return false;
    }
}

bool LoadChannelGroups(StorageContext& ctx, int number, ProjectState& project) {
    try {
        ReadPerChannel(ctx, project.ProjectFolder / kChannelGroupsFile,
                       [&](std::size_t i, const Field& f) {
                           const std::int16_t g = FieldToInt16(f);
                           // A group outside the tables would index past them later.
                           if (g < kFreeGroup || g > kMaxGroup)
                               throw StorageError("group " + std::to_string(g) + " out of range");
                           project.ChannelGroup[i] = g;
                       });
        return true;
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox(FileTag(number, kChannelGroupsFile) +
                               " => Loading default groups...");
        SetDefaultChannelGroups(project);
        return false;
    }
}

ProjectLoadResult LoadProject(StorageContext& ctx, int number, int actual_project_number,
                              ProjectState& project, PlateMap& plate) {
    ProjectLoadResult r;
    r.setup = LoadProjectSetup(ctx, number, actual_project_number, project);
    r.status_ok = LoadChannelStatus(ctx, number, project);
    r.thresholds_ok = LoadThresholds(ctx, number, project);
    r.group_names_ok = LoadGroupNames(ctx, number, project);
    r.groups_ok = LoadChannelGroups(ctx, number, project);
    r.plate_ok = LoadPlateFormat(ctx, project.Setup.Plate_format, plate);
    return r;
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
    out.Int(s.Aq_mode)
        .Int(s.Aq_lapse)
        .Int(s.Sample_Rate)
        .Int(s.RT_Buffer)
        .Int(s.DSP_Method)
        .Int(s.DSP_Interval)
        .EndLine();
    out.Header(kSetupHeaders[2]);
    out.Int(s.Binary_Acq)
        .Int(s.Threshold_Counter)
        .Int(s.Cal_value)
        .Int(s.Cal_mode)
        .Int(s.Save_counts)
        .Int(s.Save_real)
        .EndLine();
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

std::string FormatStatusFile(const ProjectState& project) {
    RecordWriter out;
    out.Header("<Channel>, <Enabled>");
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
        out.Int(static_cast<long long>(i)).Int(project.ChannelEnabled[i] != 0 ? 1 : 0).EndLine();
    return out.Take();
}

std::string FormatThresholdFile(const ProjectState& project) {
    RecordWriter out;
    out.Header("<Channel>, <Threshold>");
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
        out.Int(static_cast<long long>(i))
            .Double(RoundDecimals(project.ChannelThreshold[i], 3))
            .EndLine();
    return out.Take();
}

std::string FormatGroupNamesFile(const ProjectState& project) {
    RecordWriter out;
    out.Header("<Group_Number>, <Group_Name>");
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
        out.Int(static_cast<long long>(i)).Text(project.GroupName[i]).EndLine();
    return out.Take();
}

std::string FormatChannelGroupsFile(const ProjectState& project) {
    RecordWriter out;
    out.Header("<Channel>, <Group: -1=Free>");
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
        out.Int(static_cast<long long>(i)).Int(project.ChannelGroup[i]).EndLine();
    return out.Take();
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
                                               folder.string() + "\\" + latest);
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
    if (CopyFileChecked(ctx, setup, folder / kSetupBackup) != 1) {
        ctx.dialogs.MessageBox("error");
        return "";
    }
    try {
        const LineText lines(ctx.files.ReadFile(folder / kSetupBackup));
        RecordWriter out;
        for (std::size_t i = 0; i < lines.size() && i < 51; ++i) {
            if (i != 1) {
                out.Line(lines[i]);
                continue;
            }
            // Only the name field changes; every other field keeps its exact bytes.
            auto fields = SplitRecord(lines[i]);
            if (fields.size() < 2) throw StorageError("line 2 has no name field");
            for (std::size_t k = 0; k < fields.size(); ++k)
                out.RawField(k == 1 ? QuoteField(new_name) : fields[k].raw);
            out.EndLine();
        }
        ctx.files.WriteFile(setup, out.Take());
    } catch (const StorageError&) {
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

}  // namespace lumivo
