// The circadian and sleep views of a week: a 7-day acquisition of the 96-well plate (the shipped
// Default project, 13 groups, a 21:00-09:00 night in its light cycle) with one record a minute,
// whose counts come from the simulator's animals under a day-night rhythm (two wells empty, so
// dead). Every view of every well at 1-minute bins: the actogram, both periodograms (16-32 h),
// the activity profile and the inactivity bouts, each with its picture (a panel per well and per
// group) and its table, rendered and written into the acquisition folder; and the circadian
// toolbox's views (autocorrelation, cosinor, rest-activity indices, onsets, a sleep rule) the
// same way.
//
// The baseline, measured in the same run, is reading and decoding counts.bin alone; "x_read" is
// the time in units of it. Set LUMIVO_BENCH_KEEP=1 to keep the acquisition folder (its path is
// printed) and look at the pictures.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/acquisition/data_files.h"
#include "core/reporting/report/activity_file.h"
#include "core/reporting/rhythm/rhythm_chart.h"
#include "core/reporting/rhythm/rhythm_run.h"
#include "core/reporting/rhythm/rhythm_tables.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"
#include "sim/instrument.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;
using namespace lumivo::reporting;

constexpr int kDays = 7;
constexpr const char* kFolderName = "20260314_1830";

class WeekAcquisition {
  public:
    WeekAcquisition() {
        root_ = fs::temp_directory_path() / ("lumivo_rhythm_bench_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        install_ = root_ / "install";
        LocalFileSystem files;
        DefaultAnswerDialogs dialogs;
        StorageContext ctx{install_, dialogs, files};
        EnsureInstallation(files, install_);
        folder_ = install_ / "p00001" / kFolderName;
        fs::create_directories(folder_);

        // The Default project with its light cycle on: light 09:00-21:00.
        ProjectState project;
        project.ProjectFolder = install_;
        LoadProjectSetup(ctx, 0, 0, project, SetupUse::Reading);
        LoadChannelStatus(ctx, 0, project);
        LoadGroupNames(ctx, 0, project);
        LoadChannelGroups(ctx, 0, project);
        project.ToolParams[2] = {1, 9, 21, 0, 0, 0};
        SaveProjectFiles(ctx, folder_, 1, project);
        WriteAcquisitionRegister(ctx, folder_, AcquisitionRegister{"Week of rhythm", "benchmark"});

        // Animals active in the dark (the run starts at 18:30, the night at 21:00), each well
        // free-running within 0.3 h of 24 h; wells 10 and 50 are empty.
        PlateMap plate;
        BuildDefaultPlateMap(project.Setup.Plate_format, plate);
        sim::SimConfig config;
        config.paced = false;
        config.seed = 20;
        config.channel_well.assign(kChannelCount, -1);
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
            config.channel_well[c] = plate.ChannelWell[c];
        config.well_activity.assign(96, 0.08);
        config.well_activity[10] = config.well_activity[50] = 0.0;
        config.rhythm.period_hours = 24.0;
        config.rhythm.active_hours = 12.0;
        config.rhythm.phase_hours = 2.5;
        config.rhythm.rest_fraction = 0.08;
        config.rhythm.period_spread_hours = 0.3;
        sim::Instrument animals(config);
        constexpr std::int64_t kMinuteUs = 60'000'000;
        animals.AdvanceTo(0);

        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(kDays) * 1440 * kCountsRecordSize);
        std::array<std::uint8_t, kCountsRecordSize> buf{};
        std::array<std::uint64_t, kBeamChannelCount> before{};
        for (int m = 1; m <= kDays * 1440; ++m) {
            CountsRecord r;
            r.elapsed_minutes = m;
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const std::uint64_t n =
                    animals.CrossingsStarted(static_cast<int>(c), m * kMinuteUs);
                r.values[c] =
                    static_cast<std::int16_t>(std::min<std::uint64_t>(n - before[c], 500));
                before[c] = n;
            }
            r.values[kBeamChannelCount] = 250;
            EncodeCountsRecord(r, buf);
            bytes.append(reinterpret_cast<const char*>(buf.data()), buf.size());
        }
        std::ofstream(folder_ / kCountsFileName, std::ios::binary) << bytes;
    }
    ~WeekAcquisition() {
        if (const char* keep = std::getenv("LUMIVO_BENCH_KEEP"); keep && *keep == '1') {
            std::fprintf(stderr, "kept: %s\n", folder_.c_str());
            return;
        }
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& install() const { return install_; }
    const fs::path& folder() const { return folder_; }

  private:
    fs::path root_, install_, folder_;
};

WeekAcquisition& Week() {
    static WeekAcquisition acquisition;
    return acquisition;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The fastest of five reads of counts.bin.
double ReadSeconds() {
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const RecordTable t = ReadCountsRecords(Week().folder() / kCountsFileName);
        benchmark::DoNotOptimize(t.counts.data());
        best = std::min(best, Seconds(start));
    }
    return best;
}

void BM_ReadCountsBaseline(benchmark::State& state) {
    for (auto _ : state) {
        const RecordTable t = ReadCountsRecords(Week().folder() / kCountsFileName);
        benchmark::DoNotOptimize(t.counts.data());
    }
}

// Every view of every well and group at 1-minute bins, from the folder to the written files.
void BM_EveryViewOfEveryWell(benchmark::State& state) {
    WeekAcquisition& week = Week();
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{week.install(), dialogs, files};
    const double baseline = ReadSeconds();
    double total = 0, read = 0, bin = 0, compute_and_draw = 0, write = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto source = ReadRhythmSource(ctx, week.folder());
        if (!source) {
            state.SkipWithError("the acquisition could not be read");
            return;
        }
        read += Seconds(start);
        auto step = std::chrono::steady_clock::now();
        RhythmOptions options;
        options.bin_minutes = 1;
        const auto data = BuildRhythmData(*source, options);
        if (!data) {
            state.SkipWithError("no data");
            return;
        }
        bin += Seconds(step);
        step = std::chrono::steady_clock::now();
        // Every series: the groups' means and every well, each with a panel of its own.
        const std::vector<SeriesRef> series = SelectedSeries(*data, SeriesSelection{});
        std::vector<FileContent> out;
        {
            const ActogramLayout layout = MakeActogramLayout(*data, ActogramOptions{});
            out.push_back({week.folder() / "bench_actogram.svg",
                           RenderSceneSvg(ActogramScene(*data, series, layout))});
            out.push_back(
                {week.folder() / "bench_actogram.csv", ActogramTable(*data, series, layout)});
        }
        for (PeriodogramMethod method :
             {PeriodogramMethod::ChiSquare, PeriodogramMethod::LombScargle}) {
            PeriodogramOptions o;
            o.method = method;
            const PeriodogramSet set = MakePeriodograms(*data, series, o);
            const std::string name = "bench_" + std::string(PeriodogramMethodName(method));
            out.push_back({week.folder() / (name + ".svg"),
                           RenderSceneSvg(PeriodogramScene(*data, series, set))});
            out.push_back(
                {week.folder() / (name + ".csv"), PeriodogramTable(*data, series, set, o)});
        }
        {
            const Profile profile = MakeProfile(*data, series, data->well_values, 1);
            out.push_back(
                {week.folder() / "bench_profile.svg",
                 RenderSceneSvg(ProfileScene(*data, profile, "activity profile", "Counts"))});
            out.push_back({week.folder() / "bench_profile.csv", ProfileTable(*data, profile)});
        }
        {
            const SleepView view = MakeSleepView(*data, SleepDefinition{});
            const Profile curves = MakeProfile(*data, series, view.in_bout, 30);
            out.push_back({week.folder() / "bench_sleep.svg",
                           RenderSceneSvg(ProfileScene(*data, curves, "bouts", "%", 100.0))});
            out.push_back({week.folder() / "bench_sleep.csv", SleepTable(*data, view, series)});
        }
        compute_and_draw += Seconds(step);
        step = std::chrono::steady_clock::now();
        files.WriteFiles(out);
        write += Seconds(step);
        total += Seconds(start);
        bytes = 0;
        for (const FileContent& f : out) bytes += f.content.size();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["x_read"] = total / n / baseline;
    state.counters["read_s"] = read / n;
    state.counters["bin_s"] = bin / n;
    state.counters["views_s"] = compute_and_draw / n;
    state.counters["write_s"] = write / n;
    state.counters["files_MB"] = static_cast<double>(bytes) / 1e6;
}

// The circadian toolbox's views of every well at 1-minute bins: the autocorrelation
// periodogram, the cosinor at the chi-square periodogram's peak of each series (the
// periodogram included), the rest-activity indices, the onsets and offsets on the actogram,
// and the zebrafish sleep rule's bouts; each with its picture and table, rendered.
void BM_EveryNewViewOfEveryWell(benchmark::State& state) {
    WeekAcquisition& week = Week();
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{week.install(), dialogs, files};
    auto source = ReadRhythmSource(ctx, week.folder());
    RhythmOptions options;
    options.bin_minutes = 1;
    const auto data = source ? BuildRhythmData(*source, options) : std::nullopt;
    if (!data) {
        state.SkipWithError("the acquisition could not be read");
        return;
    }
    const std::vector<SeriesRef> series = SelectedSeries(*data, SeriesSelection{});
    double seconds[5] = {};
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        auto timed = [&](int which, auto&& make) {
            const auto start = std::chrono::steady_clock::now();
            const auto [scene, table] = make();
            bytes += RenderSceneSvg(scene).size() + table.size();
            seconds[which] += Seconds(start);
        };
        timed(0, [&] {
            PeriodogramOptions o;
            o.method = PeriodogramMethod::Autocorrelation;
            const PeriodogramSet set = MakePeriodograms(*data, series, o);
            return std::pair{PeriodogramScene(*data, series, set),
                             PeriodogramTable(*data, series, set, o)};
        });
        timed(1, [&] {
            CosinorOptions o;
            o.period_hours = std::nullopt;
            const CosinorView view = MakeCosinorView(*data, series, o);
            return std::pair{CosinorScene(*data, series, view.rows, view),
                             CosinorTable(*data, series, view)};
        });
        timed(2, [&] {
            const auto indices = MakeRestActivity(*data, series);
            return std::pair{IndicesScene(*data, series, indices),
                             IndicesTable(*data, series, indices)};
        });
        timed(3, [&] {
            const ActogramLayout layout = MakeActogramLayout(*data, ActogramOptions{});
            const auto markers = MakePhaseMarkers(*data, series, layout, kDefaultSmoothHours);
            return std::pair{ActogramScene(*data, series, layout, markers),
                             OnsetsTable(*data, series, layout, markers, kDefaultSmoothHours)};
        });
        timed(4, [&] {
            const SleepView view =
                MakeSleepView(*data, ResolveSleepDefinition(Organism::Zebrafish, {}, {}));
            const Profile curves = MakeProfile(*data, series, view.in_bout, 30);
            return std::pair{ProfileScene(*data, curves, "bouts", "%", 100.0),
                             SleepTable(*data, view, series)};
        });
    }
    const auto n = static_cast<double>(state.iterations());
    const char* names[] = {"autocorrelation_s", "cosinor_s", "indices_s", "onsets_s", "sleep_s"};
    for (int i = 0; i < 5; ++i) state.counters[names[i]] = seconds[i] / n;
    state.counters["series"] = static_cast<double>(series.size());
    state.counters["out_MB"] = static_cast<double>(bytes) / 1e6;
}

// The command line's default view of each kind (group panels, each kind at its own bin).
void BM_PlotEachKind(benchmark::State& state) {
    WeekAcquisition& week = Week();
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{week.install(), dialogs, files};
    PlotRequest request;
    request.folder = week.folder();
    request.view = static_cast<RhythmView>(state.range(0));
    for (auto _ : state) {
        const PlotOutcome out = WritePlot(ctx, request);
        if (!out.written) state.SkipWithError(out.failure.c_str());
    }
    state.SetLabel(std::string(RhythmViewName(request.view)));
}

BENCHMARK(BM_ReadCountsBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EveryViewOfEveryWell)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EveryNewViewOfEveryWell)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlotEachKind)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

}  // namespace
