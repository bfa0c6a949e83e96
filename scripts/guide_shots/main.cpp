// lumivo-guide-shots: the pictures of the user guide, made from the program's own windows on
// Qt's offscreen platform (no display needed). It builds a demonstration installation folder
// (a grouped 96-well project and an eight-hour recording of synthetic counts), then opens the
// launcher, the main window connected to the in-process simulated instrument (and with its
// device test in progress), the two factory windows, the project setup window (its groups and
// its plate map), the report
// window after "Generate...", its raw-data panel during RUN (on a half-hour recording with raw
// pages), each view of its "Rhythm and sleep" tab (on four days of the simulated instrument's
// day-night rhythm), the offline browser (the eight-hour recording's summary and group activity,
// the raw recording's channel signal, the group editor) and the guide window, and saves a PNG of
// each into the output folder.
//
// usage: lumivo-guide-shots --out DIR [--install DIR]
//   Without --install a temporary installation folder is used and removed at the end.
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "app/main_window/device_test.h"
#include "app/main_window/factory_menu.h"
#include "app/main_window/frm_main.h"
#include "app/panels/rhythm_tab.h"
#include "app/panels/screen_tabs.h"
#include "app/support/app_context.h"
#include "app/windows/frm_help.h"
#include "app/windows/frm_notify.h"
#include "app/windows/frm_offline.h"
#include "app/windows/frm_report.h"
#include "app/windows/frm_setup.h"
#include "core/acquisition/data_files.h"
#include "core/acquisition/record_file_io.h"
#include "core/control/control_settings.h"
#include "core/platform/install_dir.h"
#include "core/setup/plate_groups.h"
#include "core/setup/project_ops.h"
#include "core/setup/well_editor.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/calibration_file.h"
#include "core/storage/config_file.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"
#include "core/storage/well_map.h"
#include "sim/dose_plate.h"
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
        const bool ok = buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel;
        return ok ? MsgResult::Ok : MsgResult::Yes;
    }
    std::optional<std::string> InputBox(const std::string&, const std::string&,
                                        const std::string& default_text) override {
        return default_text;
    }
    void ProcessEvents() override {
        QCoreApplication::processEvents();
        if (on_events) on_events();
    }
    // Runs at every pass of window events (a picture taken during a long operation).
    std::function<void()> on_events;
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
    // Its plate map: the vehicle in columns 1-3, then the three doses, with the genotype of the
    // worms as the lab's own column.
    project.Wells = WellMap{};
    project.Wells.extra_columns = {"genotype"};
    const char* treatments[] = {"vehicle", "drug X", "drug X", "drug X"};
    const double doses[] = {0.0, 1.0, 10.0, 50.0};
    for (int g = 0; g < 4; ++g) {
        const WellRole role = g == 0 ? WellRole::Negative : WellRole::Sample;
        ApplyWellEdit(project.Wells, plate,
                      WellsOfRectangle(plate, WellCell{3 * g, 0}, WellCell{3 * g + 2, 7}),
                      WellEdit{treatments[g], doses[g], "uM", role});
    }
    for (auto& e : project.Wells.wells) e.extra = {e.well[0] < 'E' ? "wild type" : "unc-13"};
    project.Setup.Aq_lapse = 480;
    // Lights on from 07:00 to 19:00.
    ClimateState climate;
    LoadClimateSettings(project, climate);
    climate.light_cycle_enabled = true;
    climate.light_on_hour = 7;
    climate.light_off_hour = 19;
    StoreClimateSettings(climate, project);
    if (!CreateProjectAs(session, "Dose response"))
        throw std::runtime_error("the demonstration project could not be created");
}

// When a synthetic recording starts, its title, and how many one-minute records it holds.
struct RecordingPlan {
    LocalDateTime start;
    const char* title;
    int minutes;
};

// A synthetic recording in a new acquisition folder of the project, one counts record a minute.
// `fill` gives each minute's record (elapsed minutes set) its values and writes what else the
// minute leaves in the folder (a raw page), throwing when that cannot be written.
fs::path WriteRecording(
    StorageContext& storage, const GlobalConfig& config, const ProjectState& project,
    const RecordingPlan& plan,
    const std::function<void(const fs::path& folder, CountsRecord& record)>& fill) {
    const std::string name =
        CreateAcquisitionFolder(storage, config.Actual_Project_Number, project, plan.start,
                                plan.title, "made by lumivo-guide-shots");
    const fs::path folder = project.ProjectFolder / name;
    PosixFileOps ops;
    for (int minute = 1; minute <= plan.minutes; ++minute) {
        CountsRecord record;
        record.elapsed_minutes = minute;
        fill(folder, record);
        if (!AppendCountsRecord(ops, folder / "counts.bin", record, AppendOptions{}).ok)
            throw std::runtime_error("could not write " + (folder / "counts.bin").string());
    }
    return folder;
}

// An eight-hour recording of one-minute records: each group's wells move at their own rate,
// falling with the dose and following a slow rhythm, with Poisson noise.
fs::path MakeDemoRecording(StorageContext& storage, const GlobalConfig& config,
                           const ProjectState& project) {
    std::mt19937 random(7);
    const double rate[] = {60.0, 45.0, 28.0, 12.0};
    const RecordingPlan plan{{2026, 12, 7, 9, 0, 0, 0}, "Dose response, plate 1", 480};
    return WriteRecording(
        storage, config, project, plan, [&](const fs::path&, CountsRecord& record) {
            const int minute = record.elapsed_minutes;
            const double rhythm = 1.0 + 0.35 * std::sin(minute / 480.0 * 2.0 * 3.14159265);
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const int group = project.ChannelGroup[c];
                if (group < 0 || group > 3) continue;
                std::poisson_distribution<int> counts(rate[group] * rhythm);
                record.values[c] = static_cast<std::int16_t>(counts(random));
            }
            record.values[kBeamChannelCount] =
                TemperatureTenths(25.0 + 0.1 * std::sin(minute / 40.0));
        });
}

// A half-hour recording whose raw pages hold every window: a steady beam level with the dips of
// passing animals, more of them in the wells of the lower doses.
fs::path MakeRawRecording(StorageContext& storage, const GlobalConfig& config,
                          const ProjectState& project) {
    PosixFileOps ops;
    std::mt19937 random(11);
    const std::size_t rt_buffer = static_cast<std::size_t>(project.Setup.RT_Buffer);
    const std::size_t rows = rt_buffer + 1;
    const RecordingPlan plan{{2026, 12, 8, 9, 0, 0, 0}, "Dose response, raw data", 30};
    return WriteRecording(
        storage, config, project, plan, [&](const fs::path& folder, CountsRecord& record) {
            record.values[kBeamChannelCount] = TemperatureTenths(25.0);
            std::vector<std::int16_t> window(rows * kChannelTableSize, 0);
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const int group = project.ChannelGroup[c];
                std::bernoulli_distribution dip(group >= 0 && group <= 3 ? 0.02 / (group + 1)
                                                                         : 0.0);
                std::normal_distribution<double> noise(2000.0, 6.0);
                for (std::size_t r = 0; r < rt_buffer;) {
                    if (dip(random)) {
                        for (std::size_t k = 0; k < 6 && r < rt_buffer; ++k, ++r)
                            window[r * kChannelTableSize + c] = 1300;
                    } else {
                        window[r++ * kChannelTableSize + c] =
                            static_cast<std::int16_t>(noise(random));
                    }
                }
            }
            const fs::path page = folder / RawPageFileName((record.elapsed_minutes - 1) / 11);
            if (!AppendRawPageRecord(ops, page, ConstSampleWindow{window, rows}, rt_buffer, {}).ok)
                throw std::runtime_error("could not write the raw recording in " + folder.string());
        });
}

// A recording of the simulated instrument's animals: each one-minute record counts the crossings
// every beam saw in its minute, at a steady temperature.
fs::path WriteSimulatedRecording(StorageContext& storage, const GlobalConfig& config,
                                 const ProjectState& project, const RecordingPlan& plan,
                                 const sim::SimConfig& sim_config, double temperature) {
    sim::Instrument animals(sim_config);
    constexpr std::int64_t kMinute = 60'000'000;
    animals.AdvanceTo(kMinute);
    std::vector<std::uint64_t> before(kBeamChannelCount, 0);
    return WriteRecording(
        storage, config, project, plan, [&](const fs::path&, CountsRecord& record) {
            const std::int64_t until = (record.elapsed_minutes + 1) * kMinute;
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const std::uint64_t n = animals.CrossingsStarted(static_cast<int>(c), until);
                record.values[c] =
                    static_cast<std::int16_t>(std::min<std::uint64_t>(n - before[c], 4095));
                before[c] = n;
            }
            record.values[kBeamChannelCount] = TemperatureTenths(temperature);
        });
}

// Four days of one-minute records from the simulated instrument's day-night rhythm: the animals
// are active for 12 h of every 24 from 19:00 (nocturnal, under lights on 07:00-19:00), each well
// with a period of its own within half an hour of a day, and the higher doses less active.
fs::path MakeRhythmRecording(StorageContext& storage, const GlobalConfig& config,
                             const ProjectState& project) {
    sim::SimConfig sim_config;
    sim_config.rhythm.period_hours = 24.0;
    sim_config.rhythm.active_hours = 12.0;
    sim_config.rhythm.phase_hours = 7.0;
    sim_config.rhythm.rest_fraction = 0.08;
    sim_config.rhythm.period_spread_hours = 0.5;
    const double rate[] = {0.12, 0.09, 0.06, 0.03};
    sim_config.well_activity.assign(kBeamChannelCount, 0.0);
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int group = project.ChannelGroup[c];
        if (group >= 0 && group <= 3) sim_config.well_activity[c] = rate[group];
    }
    const RecordingPlan plan{{2026, 12, 1, 12, 0, 0, 0}, "Day and night, plate 2", 4 * 1440};
    return WriteSimulatedRecording(storage, config, project, plan, sim_config, 25.0);
}

// The plate map of the guide's worked example: the vehicle in column 1, the positive control in
// column 12, Levamisole in rows A-D and Aldicarb in rows E-H at ten concentrations in columns
// 2-11, with the strain as the lab's own column.
std::string DosePlateMapText() {
    std::string text = "well,treatment,concentration,unit,role,strain\n";
    const char* concentrations[] = {"0.01", "0.03", "0.1", "0.3", "1",
                                    "3",    "10",   "30",  "100", "300"};
    for (char row = 'A'; row <= 'H'; ++row) {
        const std::string r(1, row);
        const char* drug = row < 'E' ? "Levamisole" : "Aldicarb";
        text += r + "1,DMSO,,,negative,N2\n";
        for (int c = 2; c <= 11; ++c)
            text += r + std::to_string(c) + "," + drug + "," + concentrations[c - 2] +
                    ",uM,sample,N2\n";
        text += r + "12,Ivermectin,10,uM,positive,N2\n";
    }
    return text;
}

// Twelve hours of one-minute records from the simulated instrument holding a dose-response
// plate: every well at the same activity for two hours, then dosed; Levamisole's animals slow
// down with an EC50 of 1 uM, Aldicarb's with one of 10 uM.
fs::path MakeDoseRecording(StorageContext& storage, const GlobalConfig& config,
                           const ProjectState& project, const PlateMap& plate) {
    std::string failure;
    const auto map = ParseWellMap(DosePlateMapText(), PlateWellNames(plate), &failure);
    if (!map) throw std::runtime_error("the example plate map does not fit: " + failure);
    WriteWellMap(storage, project.ProjectFolder, *map);
    sim::SimConfig sim_config;
    const sim::DoseCurve levamisole{0.12, 0.004, 1.4, 1.0, 2.0};
    sim::ApplyDosePlate(plate, *map, levamisole, sim_config);
    const sim::DoseCurve aldicarb{0.12, 0.004, 1.1, 10.0, 2.0};
    for (std::size_t w = 0; w < sim_config.well_dose_share.size(); ++w) {
        const WellEntry* e = map->Find(WellName(plate, static_cast<int>(w)));
        if (e && e->treatment == "Aldicarb" && e->concentration)
            sim_config.well_dose_share[w] = sim::DoseShareAt(aldicarb, *e->concentration);
    }
    const RecordingPlan plan{{2026, 12, 5, 9, 0, 0, 0}, "Levamisole and Aldicarb, plate 1", 720};
    return WriteSimulatedRecording(storage, config, project, plan, sim_config, 22.0);
}

// The offline browser with the project opened: the eight-hour recording chosen (its summary and
// status strip, the activity of its groups), the raw recording chosen (a channel-signal page),
// and the group editor.
int ShootOfflineBrowser(app::Frm_Main& main_window, const fs::path& out) {
    app::Frm_offline* browser = app::ShowOfflineBrowser(main_window, [] {});
    browser->resize(1240, 800);
    auto* list = browser->findChild<QListWidget*>("Listpj");
    if (list == nullptr) throw std::runtime_error("the offline browser has no list");
    const auto choose = [&](const char* name) {
        const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchContains);
        if (found.isEmpty()) throw std::runtime_error(std::string("no entry ") + name);
        list->setCurrentItem(found.front());
        browser->Listpj_DblClick();
    };
    choose("p00001");
    choose("Dose response, plate 1");
    int failures = !Save(browser, out / "offline.png");
    browser->Cmd_leegroups_Click();
    failures += !Save(browser, out / "offline-groups.png");
    choose("Dose response, raw data");
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
        if (words[i] == "--out")
            out = words[i + 1];
        else if (words[i] == "--install")
            install = words[i + 1];
        else
            break;
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
            // The beams' settings, which the device test gives back when it is stopped.
            CalibrationValues cal;
            ResetCalibration(ctx.storage, cal);
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

        // The device test at its column steps, then stopped (the beams get their settings back).
        auto* device_test = main_window.findChild<app::DeviceTest*>("device_test");
        device_test->mnstatustest_Click();
        for (int tick = 0; tick < 47 && device_test->Running(); ++tick)
            device_test->Timer_test_Timer();
        failures += !Save(&main_window, out / "self-test.png");
        device_test->Stop();

        // The factory windows, each in place of the main window.
        auto* factory = main_window.findChild<app::FactoryMenu*>("factory_menu");
        factory->mn_factory_sensor_Click();
        factory->sensor_window()->Timer_temp_Timer();
        failures += !Save(factory->sensor_window(), out / "factory-sensor.png");
        factory->sensor_window()->close();
        factory->mn_factory_bench_Click();
        factory->bench_window()->SelectChannel(37);
        // Readings before and after the station's calibration to 85 %.
        for (int reading = 0; reading < 40; ++reading) factory->bench_window()->Timerreal_Timer();
        factory->bench_window()->Cmdcalibrar_Click();
        factory->bench_window()->Cmd_online_Click();
        for (int reading = 0; reading < 60; ++reading) factory->bench_window()->Timerreal_Timer();
        failures += !Save(factory->bench_window(), out / "factory-bench.png");
        factory->bench_window()->close();

        // Tools > Unattended recording..., filled in as a lab would.
        {
            notify::NotifySettings example;
            example.command = {"notify-send", "Lumivo"};
            example.mail = true;
            example.smtp_host = "mail.example.org";
            example.smtp_user = "lab";
            example.smtp_password = "secret";
            example.mail_from = "lumivo@example.org";
            example.mail_to = "night-shift@example.org";
            notify::SaveNotifySettings(ctx.storage, example);
            app::Frm_notify unattended(ctx);
            unattended.Form_Load();
            failures += !Save(&unattended, out / "unattended.png");
            unattended.hide();
        }

        app::Frm_setup setup(ctx.storage, ctx.state);
        setup.Form_Load(false);
        setup.resize(1180, 760);
        failures += !Save(&setup, out / "setup.png");
        // The plate map: the 10 uM wells of the top half chosen for an edit.
        setup.tab_plate->setCurrentWidget(setup.frm_wells);
        setup.Picwell_Rectangle(WellCell{6, 0}, WellCell{8, 3}, Qt::LeftButton);
        failures += !Save(&setup, out / "setup-platemap.png");
        setup.tab_plate->setCurrentWidget(setup.frm_groups);
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

        // The raw-data panel half way through RUN.
        const fs::path raw = MakeRawRecording(ctx.storage, ctx.state.config, ctx.state.project);
        if (!report.OpenFor(raw, "10", {})) throw std::runtime_error("no raw report window");
        report.mnrecalculate_Click();
        bool taken = false;
        dialogs.on_events = [&] {
            if (taken || report.frmlbl_status->text() != "Block 15/30") return;
            taken = true;
            failures += !Save(&report, out / "report-raw-run.png");
        };
        report.cmd_runframe_Click();
        dialogs.on_events = nullptr;
        failures += !taken;
        report.Frame_run->hide();

        // Each view of the "Rhythm and sleep" tab.
        const fs::path days = MakeRhythmRecording(ctx.storage, ctx.state.config, ctx.state.project);
        if (!report.OpenFor(days, "30", {})) throw std::runtime_error("no rhythm report window");
        report.report_tabs->setCurrentWidget(report.rhythm_tab);
        // In the order of the view box; the periodogram again by its autocorrelation.
        auto* method = report.rhythm_tab->findChild<QComboBox*>("Cmb_method");
        const char* views[] = {"actogram", "periodogram", "profile", "sleep",
                               "cosinor",  "indices",     "onsets"};
        for (int v = 0; v < 8; ++v) {
            const bool autocorrelation = v == 7;
            report.rhythm_tab->view_box()->setCurrentIndex(autocorrelation ? 1 : v);
            method->setCurrentIndex(
                method->findText(autocorrelation ? "autocorrelation" : "chi-square"));
            report.rhythm_tab->Cmb_view_Click();
            if (!report.rhythm_tab->Cmd_show_Click()) ++failures;
            const std::string name = autocorrelation ? "autocorrelation" : views[v];
            failures += !Save(&report, out / ("rhythm-" + name + ".png"));
        }
        method->setCurrentIndex(method->findText("chi-square"));
        // The "Compare" and "Dose-response" tabs on the dose plate, from the fourth hour (the
        // effect settled) to the end.
        const fs::path dose =
            MakeDoseRecording(ctx.storage, ctx.state.config, ctx.state.project, ctx.state.plate);
        if (!report.OpenFor(dose, "30", {})) throw std::runtime_error("no dose report window");
        report.report_tabs->setCurrentWidget(report.compare_tab);
        report.compare_tab->from_box()->setValue(4.0);
        if (!report.compare_tab->Cmd_show_Click()) ++failures;
        failures += !Save(&report, out / "compare.png");
        report.report_tabs->setCurrentWidget(report.dose_tab);
        report.dose_tab->from_box()->setValue(4.0);
        report.dose_tab->normalise_box()->setCurrentIndex(1);
        if (!report.dose_tab->Cmd_show_Click()) ++failures;
        failures += !Save(&report, out / "dose-response.png");
        report.dose_tab->from_box()->setValue(0.0);
        report.dose_tab->over_time_box()->setChecked(true);
        if (!report.dose_tab->Cmd_show_Click()) ++failures;
        failures += !Save(&report, out / "dose-over-time.png");
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
