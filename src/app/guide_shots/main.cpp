// lumivo-guide-shots: the pictures of the user guide, made from the program's own windows on
// Qt's offscreen platform (no display needed). It builds a demonstration installation folder
// (a grouped 96-well project and an eight-hour recording of synthetic counts), then opens the
// launcher, the main window connected to the in-process simulated instrument, the project
// setup window, the report window after "Generate...", the offline browser with the recording
// chosen (summary, group activity, channel signal, group editor) and the guide window, and saves
// a PNG of each into the output folder.
//
// usage: lumivo-guide-shots --out DIR [--install DIR]
//   Without --install a temporary installation folder is used and removed at the end.
#include <stdlib.h>

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/frm_help.h"
#include "app/frm_main.h"
#include "app/frm_offline.h"
#include "app/frm_report.h"
#include "app/frm_setup.h"
#include "core/acquisition/data_files.h"
#include "core/acquisition/record_file_io.h"
#include "core/install_dir.h"
#include "core/setup/plate_groups.h"
#include "core/setup/project_ops.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/config_file.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"
#include "sim/instrument.h"
#include "sim/sim_transport.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;

// Time passes only when the program pauses, so the instrument's exchanges take no real time and
// every run of the tool gives the same pictures.
class VirtualClock final : public Clock {
  public:
    std::int64_t MonotonicMicros() override { return micros_; }
    LocalDateTime Now() override {
        LocalDateTime t{2026, 12, 7, 9, 0, 0, 0};
        const std::int64_t s = micros_ / 1'000'000;
        t.hour += static_cast<int>(s / 3600);
        t.minute += static_cast<int>(s / 60 % 60);
        t.second += static_cast<int>(s % 60);
        return t;
    }
    void SleepMs(int ms) override { micros_ += ms > 0 ? std::int64_t{ms} * 1000 : 0; }
    void SleepMicros(std::int64_t us) override { micros_ += us > 0 ? us : 0; }

  private:
    std::int64_t micros_ = 0;
};

// Answers what the windows ask with their defaults, names nothing, and lets events run.
class QuietDialogs final : public Dialogs {
  public:
    MsgResult MessageBox(const std::string& text, MsgButtons buttons, const std::string&) override {
        std::cerr << "lumivo-guide-shots: the program said: " << text << "\n";
        return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Yes;
    }
    std::optional<std::string> InputBox(const std::string&, const std::string&,
                                        const std::string& default_text) override {
        return default_text;
    }
    void ProcessEvents() override { QCoreApplication::processEvents(); }
};

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

bool Save(QWidget* window, const fs::path& file) {
    window->show();
    Settle();
    const bool ok = window->grab().save(QString::fromStdString(file.string()), "PNG");
    std::cout << (ok ? "picture: " : "could not write ") << file.string() << "\n";
    return ok;
}

// Project 1, "Dose response": a 96-well plate in four groups of 3 columns x 8 rows.
void MakeDemoProject(StorageContext& storage, GlobalConfig& config, ProjectState& project,
                     PlateMap& plate) {
    SetupSession session{storage, config, project, plate};
    LoadConfig(storage, config);
    config.Actual_Project_Number = 0;
    SelectProjectFolder(storage, config, project);
    LoadProject(storage, 0, 0, project, plate);
    ArrangeInBlocks(project, plate, BlockSize{8, 3});
    const char* names[] = {"Control", "Dose 1 uM", "Dose 10 uM", "Dose 50 uM"};
    for (int g = 0; g < 4; ++g) project.GroupName[static_cast<std::size_t>(g)] = names[g];
    RebuildGroupList(project);
    project.Setup.Aq_lapse = 480;
    if (!CreateProjectAs(session, "Dose response"))
        throw std::runtime_error("the demonstration project could not be created");
}

// The raw readings of the recording's first raw page (its first eleven windows): every beam
// near 2000 with noise, dipping for a few readings whenever an animal crosses it, more often in
// the groups that move more.
void MakeDemoRawPage(const fs::path& folder, const ProjectState& project) {
    const auto length = static_cast<std::size_t>(project.Setup.RT_Buffer);
    const std::size_t rows = length + 1;
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 12.0);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const double crossings[] = {0.012, 0.009, 0.006, 0.003};  // per reading
    std::vector<std::int16_t> window(rows * kChannelTableSize, 0);
    std::array<int, kChannelTableSize> dip{};
    PosixFileOps ops;
    for (std::size_t m = 0; m < kWindowsPerRawPage; ++m) {
        for (std::size_t row = 0; row < rows; ++row)
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const int group = project.ChannelGroup[c];
                if (dip[c] > 0) {
                    --dip[c];
                } else if (group >= 0 && group <= 3 &&
                           chance(random) < crossings[static_cast<std::size_t>(group)]) {
                    dip[c] = 4 + static_cast<int>(chance(random) * 10);
                }
                const double level = 2000.0 + noise(random) - (dip[c] > 0 ? 420.0 : 0.0);
                window[row * kChannelTableSize + c] = static_cast<std::int16_t>(level);
            }
        const fs::path page = folder / RawPageFileName(0);
        if (!AppendRawPageRecord(ops, page, ConstSampleWindow{window, rows}, length, {}).ok)
            throw std::runtime_error("could not write " + page.string());
    }
}

// An eight-hour recording of one-minute records: each group's wells move at their own rate,
// falling with the dose and following a slow rhythm, with Poisson noise.
fs::path MakeDemoRecording(StorageContext& storage, const GlobalConfig& config,
                           const ProjectState& project) {
    const LocalDateTime start{2026, 12, 7, 9, 0, 0, 0};
    const std::string name = CreateAcquisitionFolder(storage, config.Actual_Project_Number, project,
                                                     start, "Dose response, plate 1",
                                                     "made by lumivo-guide-shots");
    const fs::path folder = project.ProjectFolder / name;
    PosixFileOps ops;
    std::mt19937 random(7);
    const double rate[] = {60.0, 45.0, 28.0, 12.0};
    for (int minute = 1; minute <= 480; ++minute) {
        CountsRecord record;
        record.elapsed_minutes = minute;
        const double rhythm = 1.0 + 0.35 * std::sin(minute / 480.0 * 2.0 * 3.14159265);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            const int group = project.ChannelGroup[c];
            if (group < 0 || group > 3) continue;
            std::poisson_distribution<int> counts(rate[group] * rhythm);
            record.values[c] = static_cast<std::int16_t>(counts(random));
        }
        record.values[kBeamChannelCount] = TemperatureTenths(25.0 + 0.1 * std::sin(minute / 40.0));
        if (!AppendCountsRecord(ops, folder / "counts.bin", record, AppendOptions{}).ok)
            throw std::runtime_error("could not write " + (folder / "counts.bin").string());
    }
    MakeDemoRawPage(folder, project);
    return folder;
}

// The offline browser with the recording chosen: its summary and status strip, the activity
// of its groups, a channel-signal page and the group editor.
int ShootOfflineBrowser(app::Frm_Main& main_window, const fs::path& out) {
    app::Frm_offline* browser = app::ShowOfflineBrowser(main_window, [] {});
    browser->resize(1240, 800);
    auto* list = browser->findChild<QListWidget*>("Listpj");
    if (list == nullptr) throw std::runtime_error("the offline browser has no list");
    // The project, then its acquisition (the entry after it).
    list->setCurrentRow(0);
    browser->Listpj_DblClick();
    list->setCurrentRow(1);
    browser->Listpj_DblClick();
    int failures = !Save(browser, out / "offline.png");
    browser->Cmd_leegroups_Click();
    failures += !Save(browser, out / "offline-groups.png");
    browser->cmdchannels_Click();
    failures += !Save(browser, out / "offline-signal.png");
    browser->cmd_editgroups_Click();
    failures += !Save(browser, out / "offline-groupedit.png");
    browser->hide();
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<std::string> words(argv + 1, argv + argc);
    fs::path out;
    fs::path install;
    for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] == "--out") out = words[i + 1];
        else if (words[i] == "--install") install = words[i + 1];
        else break;
    }
    if (out.empty() || words.size() % 2 != 0) {
        std::cerr << "usage: lumivo-guide-shots --out DIR [--install DIR]\n";
        return 2;
    }
    fs::path temporary;
    if (install.empty()) {
        char tmpl[] = "/tmp/lumivo-guide-XXXXXX";
        temporary = mkdtemp(tmpl);
        install = temporary / "lumivo";
    }
    fs::create_directories(out);

    QApplication qt(argc, argv);
    VirtualClock clock;
    QuietDialogs dialogs;
    LocalFileSystem files;
    int failures = 0;
    try {
        const auto ready = EnsureInstallation(files, install, InstalledDataDir());
        if (!ready.ok()) throw std::runtime_error(ready.error);
        sim::Instrument instrument;
        app::AppContext ctx(clock, dialogs, files, install,
                            sim::SimTransportOpener(instrument, clock, 1));
        {
            GlobalConfig config;
            ProjectState project;
            PlateMap plate;
            MakeDemoProject(ctx.storage, config, project, plate);
            config.ComPortNumber = 1;
            SaveConfig(ctx.storage, config);
        }

        app::Frm_Main main_window(ctx);
        main_window.Form_Load("");
        Settle();
        failures += !Save(main_window.launcher(), out / "launcher.png");
        main_window.launcher()->hide();

        main_window.resize(1180, 820);
        main_window.show();
        main_window.cmd_connect_Click();
        failures += !Save(&main_window, out / "main-window.png");

        app::Frm_setup setup(ctx.storage, ctx.state);
        setup.Form_Load(false);
        setup.resize(1180, 760);
        failures += !Save(&setup, out / "setup.png");
        setup.hide();

        const fs::path recording =
            MakeDemoRecording(ctx.storage, ctx.state.config, ctx.state.project);
        app::frm_report report(ctx);
        report.OpenDocument = [](const QUrl&) { return true; };
        report.Form_Load(false);
        if (!report.OpenFor(recording, "30", {})) throw std::runtime_error("no report window");
        report.resize(1180, 780);
        report.show();
        report.Cmd_generate_Click();
        failures += !Save(&report, out / "report.png");
        report.hide();

        failures += ShootOfflineBrowser(main_window, out);

        app::Frm_help help;
        help.resize(1000, 700);
        failures += !Save(&help, out / "help.png");
    } catch (const std::exception& e) {
        std::cerr << "lumivo-guide-shots: " << e.what() << "\n";
        failures += 1;
    }
    if (!temporary.empty()) fs::remove_all(temporary);
    return failures == 0 ? 0 : 1;
}
