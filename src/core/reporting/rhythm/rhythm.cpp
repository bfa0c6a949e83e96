#include "core/reporting/rhythm/rhythm.h"

#include <algorithm>
#include <cmath>

#include "core/reporting/report/activity_file.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/resample.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/project_setup.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

// A bin is observed when the recording covers at least this share of it.
constexpr double kObservedShare = kCoveredShare;

// The channels of each well that are mapped and enabled.
std::vector<std::vector<int>> WellBeams(const ReportInputs& in, const std::vector<bool>& enabled) {
    std::vector<std::vector<int>> out(static_cast<std::size_t>(std::max(in.max_well_index + 1, 0)));
    for (int w = 0; w <= in.max_well_index; ++w)
        for (int b = 0; b <= in.max_beam_index; ++b) {
            const int c = in.WellChannel(w, b);
            if (c >= 0 && c < kChannelCount && enabled[static_cast<std::size_t>(c)])
                out[static_cast<std::size_t>(w)].push_back(c);
        }
    return out;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string_view WellStatusText(WellStatus status) {
    switch (status) {
        case WellStatus::Ok:
            return "OK";
        case WellStatus::Dead:
            return "dead";
        case WellStatus::NoBeams:
            return "no beams";
    }
    return "OK";
}

std::string PlainGroupLabel(const ReportInputs& inputs, int group) {
    if (group < 0 || group == kFreeGroupNumber) return "999_Free";
    std::string number = std::to_string(group);
    if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
    const auto g = static_cast<std::size_t>(group);
    return number + "_" + (g < inputs.group_names.size() ? inputs.group_names[g] : std::string());
}

std::vector<WellStatus> ClassifyWells(const ReportInputs& inputs,
                                      const std::vector<bool>& channel_enabled,
                                      const RecordTable& records, int last, double dead_hours) {
    const auto beams = WellBeams(inputs, channel_enabled);
    std::vector<WellStatus> status(beams.size(), WellStatus::Dead);
    std::int64_t end = 0;
    for (int j = 0; j <= last; ++j)
        end = std::max<std::int64_t>(end, records.minutes[static_cast<std::size_t>(j)]);
    const double from = static_cast<double>(end) - std::max(dead_hours, 0.0) * 60.0;
    // Channels that counted anything in the last hours.
    std::vector<bool> counted(kChannelCount, false);
    for (int j = last; j >= 0; --j) {
        const auto uj = static_cast<std::size_t>(j);
        if (records.minutes[uj] < from) continue;
        const std::int16_t* row = &records.counts[uj * kChannelTableSize];
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
            if (row[c] > 0) counted[c] = true;
    }
    for (std::size_t w = 0; w < beams.size(); ++w) {
        if (beams[w].empty()) {
            status[w] = WellStatus::NoBeams;
            continue;
        }
        for (int c : beams[w])
            if (counted[static_cast<std::size_t>(c)]) status[w] = WellStatus::Ok;
    }
    return status;
}

std::optional<RhythmData> BuildRhythmData(const RhythmSource& source, const RhythmOptions& options,
                                          std::string* failure) {
    auto fail = [&](const std::string& why) -> std::optional<RhythmData> {
        if (failure) *failure = why;
        return std::nullopt;
    };
    const int last = source.last;
    if (last < 1 || static_cast<std::size_t>(last) >= source.records.size())
        return fail("the acquisition holds fewer than two records: there is no activity to show");
    if (options.bin_minutes < 1) return fail("the bin must be at least one minute");

    RhythmData d;
    d.experiment_name = source.inputs.experiment_name;
    d.organism = OrganismOfSetting(source.organism_setting);
    d.bin_minutes = options.bin_minutes;
    d.clock = MakeRunClock(source.log, source.folder_name, source.register_name);

    // The records on the run's clock: pauses that stopped the time counter move the records
    // after them on by their length.
    RecordTable records = source.records;
    records.minutes.resize(static_cast<std::size_t>(last) + 1);
    records.counts.resize((static_cast<std::size_t>(last) + 1) * kChannelTableSize);
    records.temperature.resize(static_cast<std::size_t>(last) + 1);
    if (!d.clock.frozen.empty())
        for (auto& m : records.minutes)
            m = static_cast<std::int32_t>(std::llround(d.clock.ClockMinute(m)));
    const std::int64_t end_minute = LargestMinute(records, last);
    if (end_minute < 1) return fail("the records of the acquisition hold no minute of activity");
    // Minutes beyond what a recording (with its pauses) can span come from a damaged file.
    if (end_minute > kMaxRhythmMinutes)
        return fail("the records reach minute " + std::to_string(end_minute) +
                    ", beyond any recording (" + std::to_string(kMaxRhythmMinutes) +
                    "): the file is damaged");

    // A bin that cannot hold enough windows is raised to one that can.
    const double window = RecordingWindowMinutes(records, last);
    d.window_minutes = window;
    std::vector<std::string> bin_notes;
    if (const std::int32_t fitted = BinForWindows(options.bin_minutes, window);
        fitted != options.bin_minutes) {
        bin_notes.push_back(BinRaisedText(options.bin_minutes, fitted, window));
        d.bin_minutes = fitted;
    }
    const std::int64_t bin = d.bin_minutes;

    d.bins = static_cast<std::size_t>((end_minute + bin - 1) / bin);
    d.run_minutes = static_cast<double>(d.bins) * static_cast<double>(bin);
    d.observed.assign(d.bins, 0);

    const auto beams = WellBeams(source.inputs, source.channel_enabled);
    const std::vector<WellStatus> status =
        ClassifyWells(source.inputs, source.channel_enabled, records, last, options.dead_hours);
    d.wells.resize(beams.size());
    for (std::size_t w = 0; w < beams.size(); ++w) {
        WellSeries& s = d.wells[w];
        s.well = static_cast<int>(w);
        s.name = w < source.inputs.well_names.size() ? source.inputs.well_names[w]
                                                     : "W" + std::to_string(w + 1);
        const int first = source.inputs.FirstChannel(static_cast<int>(w));
        s.group = first >= 0 && source.inputs.InGroup(first)
                      ? source.inputs.channel_group[static_cast<std::size_t>(first)]
                      : -1;
        s.group_label = PlainGroupLabel(source.inputs, s.group);
        s.status = status[w];
        s.beams = static_cast<int>(beams[w].size());
    }
    d.well_values.assign(d.wells.size() * d.bins, 0.0);

    // The report's re-binning on the run's clock: a bin its windows cover for less than three
    // quarters (a pause, a gap, the ends of the run) is unobserved.
    std::int32_t length = static_cast<std::int32_t>(d.run_minutes);
    BinTable bins;
    std::string why;
    if (ResampleActivity(length, last, static_cast<std::int32_t>(bin), records, bins, window, &why,
                         kMaxRhythmMinutes) < 0)
        return fail("the recording (" + std::to_string(end_minute) +
                    " min) does not fill three quarters of a bin of " + std::to_string(bin) +
                    " min: choose a shorter bin");
    for (std::size_t k = 0; k < d.bins && k < bins.size(); ++k) {
        if (!bins.Present(k)) continue;
        d.observed[k] = 1;
        for (std::size_t w = 0; w < beams.size(); ++w) {
            if (beams[w].empty()) continue;
            double sum = 0.0;
            for (int c : beams[w]) sum += bins.count(k, static_cast<std::size_t>(c));
            d.well_values[w * d.bins + k] = sum / static_cast<double>(beams[w].size());
        }
    }

    // The instrument's silences: their windows hold repeated readings, not activity.
    std::size_t silent_bins = 0;
    if (source.log.sampling_started) {
        const auto bin_length = static_cast<double>(bin);
        for (const WallPeriod& p : source.log.silences) {
            const double a = static_cast<double>(p.begin - source.log.start) / 60.0;
            const double b = static_cast<double>(p.end - source.log.start) / 60.0;
            for (std::size_t k =
                     static_cast<std::size_t>(std::max(0.0, std::floor(a / bin_length)));
                 k < d.bins && d.BinStart(k) < b; ++k) {
                const double cover =
                    std::min(b, d.BinStart(k) + bin_length) - std::max(a, d.BinStart(k));
                if (cover > (1.0 - kObservedShare) * bin_length && d.observed[k]) {
                    d.observed[k] = 0;
                    ++silent_bins;
                }
            }
        }
    }

    // Groups: every group of a well, in number order; the mean over its members.
    std::vector<int> numbers;
    for (const WellSeries& w : d.wells)
        if (w.group >= 0) numbers.push_back(w.group);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (int g : numbers) {
        GroupSeries gs;
        gs.group = g;
        gs.label = PlainGroupLabel(source.inputs, g);
        for (std::size_t w = 0; w < d.wells.size(); ++w) {
            if (d.wells[w].group != g) continue;
            ++gs.wells;
            const WellStatus st = d.wells[w].status;
            if (st == WellStatus::NoBeams || (st == WellStatus::Dead && !options.keep_dead))
                ++gs.left_out;
            else
                gs.members.push_back(w);
        }
        d.groups.push_back(std::move(gs));
    }
    d.group_mean.assign(d.groups.size() * d.bins, 0.0);
    d.group_se.assign(d.groups.size() * d.bins, 0.0);
    for (std::size_t g = 0; g < d.groups.size(); ++g) {
        const auto& members = d.groups[g].members;
        const double n = static_cast<double>(members.size());
        if (members.empty()) continue;
        double* mean = d.group_mean.data() + g * d.bins;
        double* se = d.group_se.data() + g * d.bins;
        for (std::size_t w : members) {
            const double* v = d.Well(w);
            for (std::size_t k = 0; k < d.bins; ++k) mean[k] += v[k];
        }
        for (std::size_t k = 0; k < d.bins; ++k) mean[k] /= n;
        if (members.size() < 2) continue;
        for (std::size_t w : members) {
            const double* v = d.Well(w);
            for (std::size_t k = 0; k < d.bins; ++k) se[k] += (v[k] - mean[k]) * (v[k] - mean[k]);
        }
        for (std::size_t k = 0; k < d.bins; ++k) se[k] = std::sqrt(se[k] / (n - 1.0) / n);
    }

    d.light = MakeLightSchedule(source.light_program, d.clock, source.log, d.run_minutes);
    d.notes = source.notes;
    if (!d.clock.start_known)
        d.notes.push_back(
            "the start of the run is not known (no events.log and no yyyymmdd_hhmm folder "
            "name): the light phases are not shown and days start at the start of the run");
    std::size_t unobserved = 0;
    for (std::uint8_t o : d.observed) unobserved += o == 0;
    if (unobserved > 0)
        d.notes.push_back(Plural(unobserved, "bin is", "bins are") +
                          " not covered by the recording (pauses, gaps" +
                          (silent_bins > 0 ? std::string(", the instrument's silences") : "") +
                          ") and left out");
    d.notes.insert(d.notes.end(), bin_notes.begin(), bin_notes.end());
    return d;
}

std::optional<RhythmSource> ReadRhythmSource(StorageContext& ctx, const fs::path& folder,
                                             std::string* failure) {
    RhythmSource src;
    // A plate map that cannot be read has shown its message already.
    auto inputs = LoadReportInputs(ctx, folder);
    if (!inputs) {
        if (failure) failure->clear();
        return std::nullopt;
    }
    src.inputs = std::move(*inputs);

    // The setup and the channels in use, read again without repeating the messages the
    // report inputs already showed.
    DefaultAnswerDialogs quiet_dialogs;
    AcquisitionFileDialogs acquisition_dialogs(quiet_dialogs);
    StorageContext quiet{ctx.install_dir, acquisition_dialogs, ctx.files,
                         ctx.list_separator_source};
    ProjectState project;
    project.ProjectFolder = folder;
    LoadProjectSetup(quiet, 0, 0, project, SetupUse::Reading);
    LoadChannelStatus(quiet, 0, project);
    for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
        src.channel_enabled[c] = project.ChannelEnabled[c] != 0;
    src.light_program = LightProgramOf(project);
    src.organism_setting = project.ToolParams[1][0];

    const fs::path counts = folder / "counts.bin";
    try {
        RecordTable stored = ReadCountsRecords(counts);
        const std::size_t total = stored.size();
        const std::size_t dropped = DropImpossibleRecords(stored);
        const std::size_t kept = stored.size();
        std::optional<BackwardStep> step;
        src.last = LoadActivityFile(std::move(stored), src.records, &step);
        if (dropped > 0) src.notes.push_back(ImpossibleRecordsText(dropped, total));
        if (step) src.notes.push_back(BackwardStepText(counts, *step, kept));
    } catch (const std::exception& e) {
        if (failure) *failure = e.what();
        return std::nullopt;
    }
    src.log = ParseRunLog(ReadEventLog(folder));
    src.folder_name = folder.filename().string();
    if (const auto reg = ReadAcquisitionRegister(quiet, folder)) src.register_name = reg->name;
    return src;
}

std::optional<AcquisitionWellStatus> ReadAcquisitionWellStatus(StorageContext& ctx,
                                                               const fs::path& folder,
                                                               double dead_hours,
                                                               std::string* failure) {
    auto src = ReadRhythmSource(ctx, folder, failure);
    if (!src) return std::nullopt;
    AcquisitionWellStatus out;
    out.well_names = src->inputs.well_names;
    out.organism = OrganismOfSetting(src->organism_setting);
    if (src->last < 0) {
        out.status.assign(out.well_names.size(), WellStatus::Dead);
        const auto beams = WellBeams(src->inputs, src->channel_enabled);
        for (std::size_t w = 0; w < beams.size() && w < out.status.size(); ++w)
            if (beams[w].empty()) out.status[w] = WellStatus::NoBeams;
        return out;
    }
    const RunClock clock = MakeRunClock(src->log, src->folder_name, src->register_name);
    for (auto& m : src->records.minutes)
        m = static_cast<std::int32_t>(std::llround(clock.ClockMinute(m)));
    out.status =
        ClassifyWells(src->inputs, src->channel_enabled, src->records, src->last, dead_hours);
    return out;
}

}  // namespace lumivo::reporting
