#include "core/startup/startup.h"

#include <exception>

#include "core/platform/install_dir.h"

namespace lumivo {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

AppCommandLine ParseAppCommandLine(std::vector<std::string> args) {
    AppCommandLine out;
    out.install_dir = TakeInstallDirOption(args);
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--simulate") {
            out.simulate = true;
        } else if (*it == "--help" || *it == "-h") {
            out.help = true;
        } else if (*it == "--version") {
            out.version = true;
        } else {
            if (it->rfind("--", 0) == 0 && out.usage_error.empty())
                out.usage_error = "unknown option \"" + *it + "\"";
            ++it;
            continue;
        }
        it = args.erase(it);
    }
    for (const auto& a : args) {
        if (!out.remaining.empty()) out.remaining += ' ';
        out.remaining += a;
    }
    out.autorun = IsAutorunCommandLine(out.remaining);
    return out;
}

std::string AppUsage() {
    // Laid out for help2man: the usage line, the description and the options are paragraphs
    // of their own.
    return "usage: lumivo [--install DIR] [--simulate] [/RUN]\n"
           "\n"
           "The desktop program of the Lumivo activity monitor: records activity from the\n"
           "instrument, sets up projects and plates, calibrates, and writes reports.\n"
           "\n"
           "Options:\n"
           "  --install DIR   installation folder (default ~/.local/share/lumivo); created and\n"
           "                  filled with the shipped plate formats and defaults when missing\n"
           "  --simulate      serve the built-in simulated instrument as a port of the\n"
           "                  installation folder (for a machine without an instrument)\n"
           "  /RUN            connect and start recording the current project at once\n"
           "                  (also /run or /Run)\n"
           "  --help          show this text and exit\n"
           "  --version       show the version and exit\n"
           "\n"
           "Qt's own options (-platform, -style, ...) are accepted too.\n";
}

std::string AppVersionLine() {
    return std::string("lumivo ") + LUMIVO_VERSION + "\n";
}

bool IsAutorunCommandLine(std::string_view command_line) {
    const std::string_view t = Trim(command_line);
    return t == "/RUN" || t == "/run" || t == "/Run";
}

const std::vector<std::string>& OrganismChoices() {
    static const std::vector<std::string> items = {"C elegans(>L4)", "Zebrafish(Larvae)",
                                                   "Customized"};
    return items;
}

std::optional<std::string> OrganismText(int organism) {
    switch (organism) {
        case 0:
            return "C elegans(>L4)";
        case 1:
            return "Zebrafish(larvae)";
        case 2:
            return "Customized";
        case 7:
            return "size <100um";
        case 8:
            return "size 0.1-1mm";
        case 9:
            return "size >1mm";
        default:
            return std::nullopt;
    }
}

const std::vector<std::string>& ReportBinChoices() {
    static const std::vector<std::string> items = {"15",  "30",  "60",  "120", "180",
                                                   "240", "360", "480", "720", "1440"};
    return items;
}

ProjectHeader MakeProjectHeader(const AppState& app) {
    ProjectHeader h;
    h.projecto = std::to_string(app.config.Actual_Project_Number) + "_" + app.project.Setup.Name;
    h.acqlapse = std::to_string(app.project.Setup.Aq_lapse);
    h.wellformat = app.project.Setup.Plate_format;
    h.bodybends_enabled = app.project.Setup.Plate_format == kBodyBendsPlateFormat;
    return h;
}

std::string UpdateProjectQuestion(const AppState& app) {
    return "Update values to project " + std::to_string(app.config.Actual_Project_Number) + "_" +
           app.project.Setup.Name + " before Exit?";
}

std::string StartupStepText(int step) {
    switch (step) {
        case 0:
            return "STARTING........... Reading Configuration...";
        case 1:
            return "STARTING........... Configuration OK...";
        case 2:
            return "status = not connected yet";
        default:
            return "";
    }
}

void PaceStartupStep(StartupContext& ctx, int step) {
    const std::int64_t start = ctx.clock.MonotonicMillis();
    do {
        ctx.storage.dialogs.ProcessEvents();
        ctx.clock.SleepMs(kStartupPaceSliceMs);
    } while (ctx.clock.MonotonicMillis() - start < kStartupPaceMs);
    const std::string text = StartupStepText(step);
    if (!text.empty()) ctx.view.SetLauncherNews(text);
}

StartupResult RunStartup(StartupContext& ctx, std::string_view command_line) {
    AppState& app = ctx.app;
    StartupResult result;
    try {
        app.InitStage = 0;
        app.connection = ConnectionState{};
        app.AutorunRequested = IsAutorunCommandLine(command_line);
        ctx.view.ResetDeviceControls();

        // A config.dat the installation had to write anew at this start was missing too: the
        // user learns that the port and the current project went back to the shipped ones.
        const bool restored = app.config_restored;
        if (restored || !ConfigFileExists(ctx.storage))
            ctx.storage.dialogs.MessageBox(kConfigNotFoundMessage);
        app.InitStage = 1;
        if (LoadConfig(ctx.storage, app.config) && restored)
            ctx.storage.dialogs.MessageBox(kConfigLoadErrorMessage);
        app.InitStage = 2;
        SelectProjectFolder(ctx.storage, app.config, app.project);

        app.InitStage = 3;
        ctx.view.ShowLauncherLoading();
        PaceStartupStep(ctx, 0);
        const int number = app.config.Actual_Project_Number;
        const ProjectLoadResult loaded =
            LoadProject(ctx.storage, number, number, app.project, app.plate);
        app.InitStage = 4;
        PaceStartupStep(ctx, 1);
        // The project-number warning stays on the launcher after the paced text.
        if (!loaded.setup.news.empty()) ctx.view.SetLauncherNews(loaded.setup.news);

        const auto& menu = app.project.ToolMenu;
        ctx.view.ShowToolPanels(menu[1] == 1, menu[2] == 1, menu[3] == 1);
        ctx.view.SetOrganismList(OrganismChoices(), OrganismText(app.project.ToolParams[1][0]));
        ctx.view.LoadToolSettings(app.project);
        app.InitStage = 5;

        const std::int16_t user_defined = LoadReportConfig(ctx.storage, app.report, 1);
        if (user_defined == 1) {
            ctx.view.SetReportBins(ReportBinChoices(), std::to_string(app.report.config.Bin), true);
        } else {
            ctx.view.SetReportBins(ReportBinChoices(), ReportBinChoices()[1], false);
        }

        ctx.view.PrepareLiveDisplays(app);
        ctx.view.ShowProjectHeader(MakeProjectHeader(app));

        PaceStartupStep(ctx, 2);
        PaceStartupStep(ctx, 3);
        app.InitStage = 8;
        PaceStartupStep(ctx, 4);
        ctx.view.MakeLauncherUsable();
        app.InitStage = 9;
        result.completed = true;
        result.autorun = app.AutorunRequested;
    } catch (...) {
        ctx.storage.dialogs.MessageBox(kInitErrorMessage + std::to_string(app.InitStage));
        // The launcher still offers its choices (setup, offline browser, exit), or the user
        // would be left with a window that answers nothing.
        ctx.view.MakeLauncherUsable();
    }
    return result;
}

ProjectOpening OpenProjectToRecord(StorageContext& storage, AppState& app, int number) {
    ProjectOpening out;
    if (ConfigFileExists(storage)) LoadConfig(storage, app.config);
    out.folder = ProjectFolderFor(storage.install_dir, number);
    // Project 0 lives in the installation folder itself; the engine refuses to record it.
    if (number != 0 && !storage.files.IsFile(out.folder / "setup.dat")) {
        out.exists = false;
        return out;
    }
    app.config.Actual_Project_Number = static_cast<std::int16_t>(number);
    app.project.ProjectFolder = out.folder;
    out.failure = LoadProjectAsStored(storage, number, app.project, app.plate, SetupUse::Recording);
    return out;
}

bool RunMainWindowClosing(StorageContext& storage, Clock& clock, AppState& app,
                          const ClosingSteps& steps) {
    if (!app.connection.OfflineMode) {
        const MsgResult answer =
            storage.dialogs.MessageBox(UpdateProjectQuestion(app), MsgButtons::YesNo);
        if (answer == MsgResult::Yes) {
            try {
                SaveProjectSetup(storage, app.config.Actual_Project_Number, app.project);
            } catch (const std::exception& e) {
                storage.dialogs.MessageBox(std::string("Error saving project ") +
                                           std::to_string(app.config.Actual_Project_Number) + "_" +
                                           app.project.Setup.Name + ": " + e.what() +
                                           "\r\nThe program stays open; answer No to exit "
                                           "without saving.");
                return false;
            }
            clock.SleepMs(300);
            storage.dialogs.ProcessEvents();
            clock.SleepMs(300);
        }
        if (steps.close_port) steps.close_port();
    }
    if (steps.close_files) steps.close_files();
    return true;
}

}  // namespace lumivo
