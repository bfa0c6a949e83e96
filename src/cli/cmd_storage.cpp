// lumivo-cli plate FORMAT and lumivo-cli project show N: the plate map and a project's setup,
// read through the same storage code as the desktop program.
#include <iostream>
#include <string>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

namespace {

const char* const kAqModes[] = {"0_Offline",     "1_Default",     "2_Fast(0.31)",
                                "3_Fast(32.63)", "4_Fast(64.95)", "5_Fast(96.127)"};
const char* const kDspMethods[] = {"0_Threshold+Binary (Old Method.w/filters)",
                                   "1_Threshold Avrg (Default.Agar&Liquid)",
                                   "2_uOrganism (Motility Index)"};

template <typename T, std::size_t N>
std::string Choice(const T (&names)[N], int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? names[index] : "?";
}

}  // namespace

int RunPlate(Args& args) {
    const bool fallback = args.TakeFlag("fallback");
    auto format = args.TakePositional();
    if (!format) throw UsageError("the plate format is missing (for example w96f)");
    args.ExpectEnd();
    LocalFileSystem files;
    CliDialogs dialogs("plate");
    StorageContext ctx{args.install_dir(), dialogs, files};
    PlateMap plate;
    std::string name = *format;
    if (fallback)
        LoadPlateFormat(ctx, name, plate);
    else
        ReadPlateFormatFile(ctx, name, plate);  // a StorageError ends the command with status 1
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        if (plate.ChannelWell[i] < 0)
            std::cout << ch << ",-,-\n";
        else
            std::cout << ch << "," << WellName(plate, plate.ChannelWell[i]) << ","
                      << plate.ChannelBeam[i] << "\n";
    }
    return 0;
}

int RunProject(Args& args) {
    auto verb = args.TakePositional();
    if (!verb || *verb != "show") throw UsageError("expected \"show N\"");
    auto number_text = args.TakePositional();
    if (!number_text) throw UsageError("the project number is missing");
    args.ExpectEnd();
    const auto number = ParseInteger(*number_text);
    if (!number || *number < 0 || *number > 32767)
        throw UsageError("the project number must be a whole number from 0 to 32767");
    const int n = static_cast<int>(*number);

    LocalFileSystem files;
    CliDialogs dialogs("project");
    StorageContext ctx{args.install_dir(), dialogs, files};
    ProjectState project;
    project.ProjectFolder = ProjectFolderFor(ctx.install_dir, n);
    if (!files.IsFolder(project.ProjectFolder)) {
        PrintError("project", "no project " + std::to_string(n) + " (" +
                                  project.ProjectFolder.string() + " does not exist)");
        return 1;
    }
    // Shown as stored: a damaged project is reported, never recovered or rewritten from here.
    PlateMap plate;
    if (!LoadStoredProject(ctx, "project", n, project, plate, SetupUse::Reading)) return 1;

    const ProjectSetup& s = project.Setup;
    std::cout << "Project: " << n << "_" << s.Name << "\n"
              << "Folder: " << project.ProjectFolder.string() << "\n"
              << "Working_folder: " << s.Working_folder << "\n"
              << "Plate_format: " << s.Plate_format << " (" << plate.PlateRows << " x "
              << plate.PlateColumns << " wells)\n"
              << "Aq_mode: " << s.Aq_mode << " " << Choice(kAqModes, s.Aq_mode) << "\n"
              << "Aq_lapse: " << s.Aq_lapse << " min\n"
              << "Sample_Rate: " << s.Sample_Rate << "\n"
              << "RT_Buffer: " << s.RT_Buffer
              << (s.RT_Buffer < kMinRtBuffer
                      ? " (a recording uses " + std::to_string(kMinRtBuffer) + " rows)"
                      : std::string())
              << "\n"
              << "DSP_Method: " << s.DSP_Method << " " << Choice(kDspMethods, s.DSP_Method) << "\n"
              << "DSP_Interval: " << s.DSP_Interval << "\n"
              << "Binary_Acq: " << s.Binary_Acq << "\n"
              << "Threshold_Counter: " << s.Threshold_Counter << "\n"
              << "Cal_value: " << s.Cal_value << "\n"
              << "Cal_mode: " << s.Cal_mode << "\n"
              << "Save_counts: " << s.Save_counts << "\n"
              << "Save_real: " << s.Save_real << "\n"
              << "ToolMenu:";
    for (std::size_t k = 1; k <= 6; ++k) std::cout << " " << project.ToolMenu[k];
    std::cout << "\n";
    for (std::size_t row = 1; row <= 6; ++row) {
        std::cout << "ToolParams " << row << ":";
        for (auto v : project.ToolParams[row]) std::cout << " " << v;
        std::cout << "\n";
    }
    int enabled = 0;
    int in_wells = 0;
    std::array<int, kChannelCount> per_group{};
    int free_channels = 0;
    for (std::size_t ch = 0; ch < static_cast<std::size_t>(kChannelCount); ++ch) {
        if (project.ChannelEnabled[ch] != 0) ++enabled;
        if (plate.ChannelWell[ch] >= 0) ++in_wells;
        const int g = project.ChannelGroup[ch];
        if (g >= 0 && g < kChannelCount)
            ++per_group[static_cast<std::size_t>(g)];
        else
            ++free_channels;
    }
    std::cout << "Channels enabled: " << enabled << " of " << kChannelCount << " (" << in_wells
              << " in wells)\n"
              << "Groups:\n";
    for (std::size_t g = 0; g < per_group.size(); ++g) {
        if (per_group[g] == 0) continue;
        std::string num = std::to_string(g);
        num.insert(0, 3 - std::min<std::size_t>(3, num.size()), '0');
        std::cout << "  " << num << "_" << project.GroupName[g] << ": " << per_group[g]
                  << " channels\n";
    }
    if (free_channels > 0) std::cout << "  999_Free: " << free_channels << " channels\n";
    return 0;
}

}  // namespace lumivo::cli
