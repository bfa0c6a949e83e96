// Feeds arbitrary counts.bin images through the report computation: reading with the day
// roll-over, the bin-size correction, re-binning (regular and irregular records, the partial
// last bin), basal normalisation, group statistics, the report text in every layout and the
// chart. Byte 0 picks the bin size, byte 1 the layout and options; the rest is the file. The
// same bytes, read as text, name the experiment whose copy file name must stay inside the
// folder. The same records go through the circadian and sleep views (every view, both
// periodograms). Nothing may crash, divide by zero, overflow or index outside a table.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "core/reporting/report/activity_file.h"
#include "core/reporting/report/basal.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/report_chart.h"
#include "core/reporting/report/report_run.h"
#include "core/reporting/report/report_writer.h"
#include "core/reporting/report/resample.h"
#include "core/reporting/rhythm/rhythm_run.h"

namespace {

using namespace lumivo;
using namespace lumivo::reporting;

void Check(bool ok) {
    if (!ok) std::abort();
}

// A 4 x 6 plate: well w holds channels 2w and 2w + 1; groups by well column, the last column
// free; channel 300 is grouped but lies in no well.
const ReportInputs& Plate() {
    static const ReportInputs plate = [] {
        ReportInputs in;
        in.plate_rows = 4;
        in.plate_columns = 6;
        in.max_well_index = 23;
        in.max_beam_index = 1;
        in.well_channel.assign(48, -1);
        for (int w = 0; w < 24; ++w) {
            for (int b = 0; b < 2; ++b) {
                const int c = 2 * w + b;
                in.channel_well[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(w);
                in.well_channel[static_cast<std::size_t>(2 * w + b)] = static_cast<std::int16_t>(c);
                in.channel_group[static_cast<std::size_t>(c)] =
                    static_cast<std::int16_t>(w / 4 < 5 ? w / 4 : -1);
            }
            in.well_names.push_back(std::string(1, static_cast<char>('A' + w % 4)) +
                                    std::to_string(w / 4 + 1));
        }
        in.channel_group[300] = 7;
        for (int g = 0; g < 8; ++g)
            in.group_names[static_cast<std::size_t>(g)] = "G" + std::to_string(g);
        return in;
    }();
    return plate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string as_text(reinterpret_cast<const char*>(data), size);
    const std::string copy = ExperimentCopyName(as_text);
    Check(copy.find('/') == std::string::npos && copy.find('\\') == std::string::npos);
    Check(copy.empty() || copy.front() != '.');
    Check(copy.size() <= 200);
    (void)LeadingWholeNumber(as_text);

    const RecordTable stored =
        ParseCountsRecords(std::span<const std::uint8_t>(data + 2, size - 2));
    const std::int32_t scanned = ScanActivityDuration(stored);
    if (stored.size() < 2 || scanned < 1) return 0;
    const std::int32_t bin = CorrectBinSize(data[0], scanned);
    Check(bin >= 1 && bin <= std::max(scanned, 1));

    RecordTable records;
    const int last = LoadActivityFile(stored, records);
    Check(last >= 0 && static_cast<std::size_t>(last) < stored.size());
    Check(records.size() == static_cast<std::size_t>(last) + 1);
    std::int32_t length = LargestMinute(records, last);
    if (last < 1 || length < 1) return 0;
    // Keep one input's tables small enough for the fuzzer's pace.
    if (length / bin > 4000) return 0;

    // The circadian and sleep views of the same records (fewer bins, for the fuzzer's pace).
    if (length / bin <= 600) {
        RhythmSource source;
        source.inputs = Plate();
        source.records = records;
        source.last = last;
        source.folder_name = "20260314_1830";
        source.light_program.cycle_enabled = (data[1] & 0x01) != 0;
        source.light_program.on_hour = data[1] % 24;
        source.light_program.off_hour = data[0] % 24;
        RhythmOptions ro;
        ro.bin_minutes = bin;
        ro.keep_dead = (data[1] & 0x02) != 0;
        if (const auto rhythm = BuildRhythmData(source, ro)) {
            Check(rhythm->observed.size() == rhythm->bins);
            Check(rhythm->well_values.size() == rhythm->wells.size() * rhythm->bins);
            for (double v : rhythm->group_mean) Check(std::isfinite(v));
            for (double v : rhythm->group_se) Check(std::isfinite(v) && v >= 0.0);
            for (RhythmView view : {RhythmView::Actogram, RhythmView::Periodogram,
                                    RhythmView::Profile, RhythmView::Sleep}) {
                PlotRequest request;
                request.view = view;
                request.actogram.double_plot = (data[1] & 0x04) != 0;
                request.periodogram.method = (data[1] & 0x08) != 0 ? PeriodogramMethod::LombScargle
                                                                   : PeriodogramMethod::ChiSquare;
                const RhythmViewResult r = MakeRhythmView(*rhythm, request, SeriesSelection{});
                const std::string picture = RenderSceneSvg(r.scene);
                Check(picture.find("nan") == std::string::npos &&
                      picture.find("inf") == std::string::npos);
                Check(r.table.size() >= 2 && r.table.compare(r.table.size() - 2, 2, "\r\n") == 0);
            }
        }
    }

    BinTable bins;
    const std::int32_t original = length;
    const int last_bin = ResampleActivity(length, last, bin, records, bins);
    if (last_bin < 0) return 0;
    Check(static_cast<std::size_t>(last_bin) < bins.size());
    Check(length >= 1 && length <= original + bin);
    const std::int32_t covered = bins.minutes.back();

    ReportInputs inputs = Plate();
    const int options = data[1];
    bool basal_applied = false;
    if ((options & 0x40) != 0) {
        DefaultAnswerDialogs dialogs;  // Yes to zero-basal wells: the channel's maximum
        auto basal = ChannelBasal(bins, bin, bin, covered);
        basal_applied = NormaliseToBasal(dialogs, inputs, bins, std::move(basal)).proceed;
        for (std::size_t k = 0; k < bins.size(); ++k)
            for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
                Check(bins.count(k, c) <= kMaxBasalPercent);
    }
    const GroupStatistics stats = ComputeGroupStatistics(inputs, bins, covered, last_bin, bin);
    Check(stats.bin_count >= 1);
    for (int g = 0; g < stats.group_count; ++g)
        for (int k = 0; k <= stats.bin_count; ++k) Check(stats.Sd(g, k) >= 0);

    ReportDocument doc;
    doc.inputs = &inputs;
    doc.stats = &stats;
    doc.length = covered;
    doc.bin_size = bin;
    doc.basal_applied = basal_applied;
    doc.basal_text = "20260101_0000 basal";
    doc.folder_text = "/acq";
    doc.date_text = "now";
    ReportOptions opt;
    opt.output = static_cast<OutputFormat>(options % 4);  // the histogram needs its own files
    opt.spacer = (options & 0x80) != 0 ? ";" : ",";
    opt.std_error = (options & 0x04) != 0;
    opt.std_dev = (options & 0x08) != 0;
    opt.wells = (options & 0x10) != 0;
    const std::string text = FormatReportText(doc, opt);
    Check(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    const std::string svg =
        RenderChartSvg(BuildChartData(inputs, stats, bin, covered, basal_applied));
    Check(svg.find("nan") == std::string::npos && svg.find("inf") == std::string::npos);
    return 0;
}
