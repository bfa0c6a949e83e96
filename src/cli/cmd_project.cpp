// lumivo-cli project new|rename|groups|arrange: scripted project set-up through the same core
// operations as the setup window (and "project show", which lives with the storage commands).
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "core/setup/plate_groups.h"
#include "core/setup/project_ops.h"
#include "core/storage/config_file.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

int RunProject(Args& args);  // cmd_storage.cpp: "project show N"

namespace {

constexpr const char* kCommand = "project";

// A project loaded from the installation folder.
struct LoadedProject {
    explicit LoadedProject(const std::filesystem::path& install)
        : storage{install, dialogs, files} {}
    LocalFileSystem files;
    // The one kind of question a command may meet is answered by its options (`yes`).
    OptionDialogs dialogs{kCommand};
    StorageContext storage;
    GlobalConfig config;
    ProjectState project;
    PlateMap plate;
    SetupSession session{storage, config, project, plate};

    // Loads project `n` as it is stored, without making it the current one. False (with the
    // reason on stderr) when it does not exist or cannot be loaded: nothing is then written.
    bool Load(int n) {
        project.ProjectFolder = ProjectFolderFor(storage.install_dir, n);
        if (!files.IsFolder(project.ProjectFolder) ||
            (n > 0 && !files.IsFile(project.ProjectFolder / "setup.dat"))) {
            PrintError(kCommand, "no project " + std::to_string(n) + " (" +
                                     project.ProjectFolder.string() + " holds no setup.dat)");
            return false;
        }
        config.Actual_Project_Number = static_cast<std::int16_t>(n);
        return LoadStoredProject(storage, kCommand, n, project, plate, SetupUse::Reading);
    }
    bool Save() { return SaveCurrentProject(session); }
};

int ProjectNumber(Args& args) {
    const auto text = args.TakePositional();
    if (!text) throw UsageError("the project number is missing");
    const auto n = ParseInteger(*text);
    if (!n || *n < 0 || *n > kLastProjectNumber)
        throw UsageError("the project number must be a whole number from 0 to " +
                         std::to_string(kLastProjectNumber));
    return static_cast<int>(*n);
}

// "B2" or "A1:C4": a rectangle of wells.
struct WellRange {
    WellCell a, b;
};
std::optional<WellCell> ParseWell(const PlateMap& plate, const std::string& text) {
    // A well's name is its beam-0 label without ".0".
    const auto channel = ChannelOfLabel(plate, text + ".0");
    if (!channel) return std::nullopt;
    const int well = plate.ChannelWell[static_cast<std::size_t>(*channel)];
    return WellCell{well / plate.PlateRows, well % plate.PlateRows};
}
WellRange ParseWellRange(const PlateMap& plate, const std::string& text) {
    const auto colon = text.find(':');
    const auto a = ParseWell(plate, text.substr(0, colon));
    const auto b = colon == std::string::npos ? a : ParseWell(plate, text.substr(colon + 1));
    if (!a || !b)
        throw UsageError("\"" + text +
                         "\" is not a well or a range of wells of this plate "
                         "(for example B2 or A1:C4)");
    return {*a, *b};
}

void PrintGroups(LoadedProject& p) {
    for (const auto& entry : RebuildGroupList(p.project)) {
        std::cout << entry << ":";
        for (const auto& label : LabelsOfGroup(p.project, p.plate, *GroupOfEntry(entry)))
            std::cout << " " << label;
        std::cout << "\n";
    }
    std::cout << "Free:";
    for (const auto& label : LabelsOfGroup(p.project, p.plate, kFreeGroup))
        std::cout << " " << label;
    std::cout << "\n";
}

// Applies an edit of a number box and reports a replaced value.
void Edit(const char* option, const std::optional<std::string>& text,
          FieldEdit (*edit)(ProjectSetup&, std::string_view), ProjectSetup& setup) {
    if (!text) return;
    const FieldEdit e = edit(setup, *text);
    if (e.shown)
        PrintError(kCommand,
                   std::string("--") + option + " " + *text + " was replaced by " + *e.shown);
}

int RunNew(Args& args) {
    // Options first: their values must not be taken for the name.
    const auto from = args.TakeInt("from", 0, kLastProjectNumber);
    const auto plate_format = args.TakeOption("plate");
    const auto aq_mode = args.TakeInt("aq-mode", 0, kMaxAqMode);
    const auto method = args.TakeInt("method", 0, kMaxDspMethod);
    // Whole numbers, checked here; the setup window's rules then correct values out of range.
    const auto lapse = args.TakeWholeNumberText("lapse");
    const auto rt_buffer = args.TakeWholeNumberText("rt-buffer");
    const auto sample_rate = args.TakeWholeNumberText("sample-rate");
    const auto dsp_interval = args.TakeWholeNumberText("dsp-interval");
    const bool overwrite = args.TakeFlag("overwrite");
    const auto name = args.TakePositional();
    if (!name) throw UsageError("the project name is missing");
    args.ExpectEnd();

    LoadedProject p(args.install_dir());
    LoadConfig(p.storage, p.config);
    if (from) {
        if (!p.Load(static_cast<int>(*from))) return 1;
    } else {
        // The current project, as the program starts with it.
        SelectProjectFolder(p.storage, p.config, p.project);
        if (!LoadStoredProject(p.storage, kCommand, p.config.Actual_Project_Number, p.project,
                               p.plate, SetupUse::Reading))
            return 1;
    }

    if (plate_format && *plate_format != p.project.Setup.Plate_format) {
        p.dialogs.yes = true;  // "Load New Plate configuration?"
        if (ChangePlateFormat(p.session, *plate_format) != PlateChange::Changed) return 1;
    }
    ProjectSetup& s = p.project.Setup;
    if (aq_mode) ChooseAqMode(s, static_cast<int>(*aq_mode));
    if (method) ChooseDspMethod(s, static_cast<int>(*method));
    Edit("lapse", lapse, EditAqLapse, s);
    Edit("rt-buffer", rt_buffer, EditRtBuffer, s);
    Edit("sample-rate", sample_rate, EditSampleRate, s);
    Edit("dsp-interval", dsp_interval, EditDspInterval, s);

    p.dialogs.yes = overwrite;
    const auto n = CreateProjectAs(p.session, *name);
    if (!n) {
        PrintError(kCommand,
                   std::string("no project created") +
                       (overwrite ? "" : " (--overwrite replaces an existing project folder)"));
        return 1;
    }
    std::cout << "Created project " << ProjectCaption(p.session) << " in "
              << p.project.ProjectFolder.string() << "\n";
    return 0;
}

int RunRename(Args& args) {
    const int n = ProjectNumber(args);
    const auto name = args.TakePositional();
    if (!name) throw UsageError("the new name is missing");
    args.ExpectEnd();
    LoadedProject p(args.install_dir());
    // A project that cannot be loaded as stored is not touched (no setup.bak either).
    if (n > 0 && !p.Load(n)) return 1;
    if (!RenameProjectFiles(p.storage, n, *name)) return 1;
    std::cout << "<Project> p" << FiveDigits(n) << ": " << *name << "\n";
    return 0;
}

// Every "--OPTION GROUP=VALUE" of the command line, in the order given; `value` names what
// follows the "=" in the usage message.
std::vector<std::pair<int, std::string>> TakeGroupPairs(Args& args, const std::string& option,
                                                        const std::string& value) {
    std::vector<std::pair<int, std::string>> pairs;
    while (auto v = args.TakeOption(option)) {
        const auto eq = v->find('=');
        const auto g = ParseInteger(v->substr(0, eq));
        if (eq == std::string::npos || !g || !IsGroupNumber(static_cast<int>(*g)))
            throw UsageError("--" + option + " takes GROUP=" + value +
                             " with GROUP from 0 to 383, not \"" + *v + "\"");
        pairs.emplace_back(static_cast<int>(*g), v->substr(eq + 1));
    }
    return pairs;
}

int RunGroups(Args& args) {
    const bool clear = args.TakeFlag("clear");
    // Repeated options apply in this order: clear, assign, free, names.
    const auto assigns = TakeGroupPairs(args, "assign", "WELLS");
    std::vector<std::string> frees;
    while (auto v = args.TakeOption("free")) frees.push_back(*v);
    const auto names = TakeGroupPairs(args, "name", "NAME");
    const int n = ProjectNumber(args);
    args.ExpectEnd();

    LoadedProject p(args.install_dir());
    if (!p.Load(n)) return 1;
    bool changed = clear;
    if (clear) ClearGroups(p.project);
    for (const auto& [group, wells] : assigns) {
        const WellRange r = ParseWellRange(p.plate, wells);
        AssignRectangle(p.project, p.plate, r.a, r.b, group);
        changed = true;
    }
    for (const auto& wells : frees) {
        const WellRange r = ParseWellRange(p.plate, wells);
        AssignRectangle(p.project, p.plate, r.a, r.b, kFreeGroup);
        changed = true;
    }
    for (const auto& [group, name] : names) {
        if (name.empty()) continue;  // as in the window: an empty name keeps the old one
        if (const auto refusal = CheckStorableText(name, "The group name"); !refusal.empty()) {
            PrintError(kCommand, refusal);
            return 1;
        }
        p.project.GroupName[static_cast<std::size_t>(group)] = name;
        changed = true;
    }
    RebuildGroupList(p.project);  // names the groups in use that are still called "Free"
    if (changed && !p.Save()) return 1;
    PrintGroups(p);
    return 0;
}

int RunArrange(Args& args) {
    const int n = ProjectNumber(args);
    const auto caption = args.TakePositional();
    if (!caption) throw UsageError("the block size is missing (for example 04x06)");
    args.ExpectEnd();
    LoadedProject p(args.install_dir());
    if (!p.Load(n)) return 1;
    const auto size = ParseBlockSize(*caption);
    const auto captions = BlockSizeCaptions(p.plate);
    const bool offered = size && std::any_of(captions.begin(), captions.end(), [&](const auto& c) {
                             const auto s = ParseBlockSize(c);
                             return s->rows == size->rows && s->columns == size->columns;
                         });
    if (!offered) {
        std::string list;
        for (const auto& c : captions) list += "\n  " + c.substr(0, 5);
        PrintError(
            kCommand,
            "\"" + *caption +
                "\" is not a block size of this plate (RRxCC, rows x columns); choose one of:" +
                list);
        return 2;
    }
    ArrangeInBlocks(p.project, p.plate, *size);
    RebuildGroupList(p.project);
    if (!p.Save()) return 1;
    PrintGroups(p);
    return 0;
}

}  // namespace

int RunProjectCommand(Args& args) {
    const auto verb = args.TakePositional();
    if (!verb) throw UsageError("expected show, new, rename, groups or arrange");
    if (*verb == "show") {
        const auto number = args.TakePositional();
        args.ExpectEnd();
        std::vector<std::string> words{"show"};
        if (number) words.push_back(*number);
        Args show(args.install_dir(), std::move(words));
        return RunProject(show);
    }
    if (*verb == "new") return RunNew(args);
    if (*verb == "rename") return RunRename(args);
    if (*verb == "groups") return RunGroups(args);
    if (*verb == "arrange") return RunArrange(args);
    throw UsageError("unknown project command \"" + *verb + "\"");
}

}  // namespace lumivo::cli
