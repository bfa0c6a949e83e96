// Fuzzes the project loaders: the input is cut at 0x00 bytes into setup.dat, status.dat,
// threshld.dat, groups.dat, chgroup.dat, setup.bak and the setup.dat of an acquisition folder.
// Loading must end (bounded recovery), fill every table within its range and never crash; a
// save of what was loaded must load again to the same values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/storage/project_setup.h"

using namespace lumivo;

namespace {

void Check(const ProjectState& p) {
    const ProjectSetup& s = p.Setup;
    if (s.RT_Buffer < kMinRtBuffer || s.RT_Buffer > kMaxRtBuffer) __builtin_trap();
    if (s.Aq_lapse < kMinAqLapse || s.Aq_lapse > kMaxAqLapse) __builtin_trap();
    if (s.DSP_Method < 0 || s.DSP_Method > kMaxDspMethod) __builtin_trap();
    if (s.Aq_mode < 0 || s.Aq_mode > kMaxAqMode) __builtin_trap();
    if (s.DSP_Interval < 0) __builtin_trap();
    for (auto g : p.ChannelGroup)
        if (g < kFreeGroup || g > kMaxGroup) __builtin_trap();
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto e = p.ChannelEnabled[static_cast<std::size_t>(ch)];
        if (e != 0 && e != -1) __builtin_trap();
    }
}

std::string ReadOrEmpty(FileSystem& files, const char* name) {
    try {
        return files.ReadFile(std::string("/inst/p00003/") + name);
    } catch (const StorageError&) {
        return {};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 7)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    MemoryFileSystem files;
    files.CreateFolders("/inst/p00003/20240101_1200");
    const char* names[] = {"setup.dat",   "status.dat", "threshld.dat",           "groups.dat",
                           "chgroup.dat", "setup.bak",  "20240101_1200/setup.dat"};
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parts[i].empty()) files.WriteFile(std::string("/inst/p00003/") + names[i], parts[i]);

    DefaultAnswerDialogs dialogs;
    StorageContext ctx{"/inst", dialogs, files};

    // Loading as stored writes nothing and keeps what it loads within range.
    std::vector<std::string> before;
    for (const char* name : names) before.push_back(ReadOrEmpty(files, name));
    {
        ProjectState stored;
        stored.ProjectFolder = "/inst/p00003";
        PlateMap stored_plate;
        if (!LoadProjectAsStored(ctx, 3, stored, stored_plate, SetupUse::Reading)) {
            if (stored.Setup.RT_Buffer < kMinStoredRtBuffer) __builtin_trap();
            for (auto g : stored.ChannelGroup)
                if (g < kFreeGroup || g > kMaxGroup) __builtin_trap();
        }
    }
    for (std::size_t i = 0; i < before.size(); ++i)
        if (ReadOrEmpty(files, names[i]) != before[i]) __builtin_trap();

    ProjectState project;
    project.ProjectFolder = "/inst/p00003";
    PlateMap plate;
    LoadProject(ctx, 3, 3, project, plate);
    Check(project);
    (void)GetProjectTitle(ctx, "/inst/p00003");

    try {
        files.CreateFolders("/inst/copy");
        SaveProjectFiles(ctx, "/inst/copy", 3, project);
        ProjectState again;
        again.ProjectFolder = "/inst/copy";
        LoadProjectSetup(ctx, 3, 3, again);
        LoadChannelGroups(ctx, 3, again);
        LoadGroupNames(ctx, 3, again);
        if (again.Setup.Name != project.Setup.Name ||
            again.Setup.Plate_format != project.Setup.Plate_format)
            __builtin_trap();
        for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
            if (again.ChannelGroup[i] != project.ChannelGroup[i] ||
                again.GroupName[i] != project.GroupName[i])
                __builtin_trap();
    } catch (const StorageError&) {
        // names with line breaks are refused
    }
    (void)RenameProjectInFile(ctx, "/inst/p00003", "Renamed, \"x\"");
    return 0;
}
