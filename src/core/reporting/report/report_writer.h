// `WriteReportFile`: the text of a report (header block, the group section in the chosen
// layout, standard error, deviation, wells, samples, temperature, per-well and per-channel
// sections), the report file in the acquisition folder, its copy under the experiment's name,
// and handing the result to the user.
//
// Lines end with CR LF; fields are joined by the chosen separator; quoted fields are written
// between double quotes (a quote inside one is doubled, as spreadsheets read it); values with
// one decimal use the given decimal symbol. The file is UTF-8 and starts with a byte-order
// mark.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/reporting/report/report_output.h"
#include "core/reporting/report/report_tables.h"

namespace lumivo::reporting {

// `Option_output`: 0 "Rows", 1 "List", 2 "W.Array", 3 "CH.Array", 4 the body-bends histogram.
enum class OutputFormat : int {
    Rows = 0,
    List = 1,
    WellArray = 2,
    ChannelArray = 3,
    Histogram = 4
};
// `Option_report`: 0 "Excel [.csv]", 1 "Text [.txt]".
enum class ReportFileType : int { Csv = 0, Text = 1 };

// The `Chk_statistic` boxes that are stored and change the report file.
enum class StatisticBox : int { StdError = 2, StdDev = 3, Wells = 4 };

// Whether ticking a box adds its table to a report of this output: "Std Error" and "N" for
// "Rows" and "List", "Std Dev" for those and for the body-bends histogram (the deviation of the
// wells' histograms). The report windows offer a box only where it does.
bool StatisticOffered(OutputFormat output, StatisticBox box);

// What the report window's controls say about the file.
struct ReportOptions {
    OutputFormat output = OutputFormat::Rows;
    ReportFileType file_type = ReportFileType::Csv;
    std::string spacer = ",";  // txt_customspacer
    bool std_error = true;     // Chk_statistic(2) "Std Error"
    bool std_dev = false;      // Chk_statistic(3) "Std Dev"
    bool wells = true;         // Chk_statistic(4) "N"
    std::string decimal_symbol = ".";
};

// Body-bends histograms per report bin: the increase of each interval bin (0..50) of the
// accumulated histograms over the report bin, averaged over the beams of a well and over the
// wells of a group, and the standard deviation of the group's wells about that average.
struct HistogramTables {
    static constexpr int kIntervals = 51;
    int group_count = 0;
    int well_count = 0;
    int bin_count = 0;
    std::vector<std::int32_t> group;     // [(group * (bin_count + 1) + bin) * kIntervals + i]
    std::vector<std::int32_t> group_sd;  // same layout
    std::vector<std::int32_t> well;      // [(well * (bin_count + 1) + bin) * kIntervals + i]
    std::vector<bool> bin_known;         // per report bin: a valid histogram lies in it
    std::vector<std::string> notes;      // what of the files was left out, and why
    bool Known(int bin) const {
        return bin >= 0 && static_cast<std::size_t>(bin) < bin_known.size() &&
               bin_known[static_cast<std::size_t>(bin)];
    }

    std::size_t GroupAt(int g, int bin, int i) const {
        return (static_cast<std::size_t>(g) * static_cast<std::size_t>(bin_count + 1) +
                static_cast<std::size_t>(bin)) *
                   kIntervals +
               static_cast<std::size_t>(i);
    }
    std::int32_t Group(int g, int bin, int i) const { return group[GroupAt(g, bin, i)]; }
    std::int32_t GroupSd(int g, int bin, int i) const { return group_sd[GroupAt(g, bin, i)]; }
    std::int32_t Well(int w, int bin, int i) const {
        return well[(static_cast<std::size_t>(w) * static_cast<std::size_t>(bin_count + 1) +
                     static_cast<std::size_t>(bin)) *
                        kIntervals +
                    static_cast<std::size_t>(i)];
    }
};

// Everything a report file is written from.
struct ReportDocument {
    const ReportInputs* inputs = nullptr;
    const GroupStatistics* stats = nullptr;
    const HistogramTables* histogram = nullptr;  // output 4 only
    std::int32_t length = 0;                     // minutes covered (L)
    std::int32_t bin_size = 0;                   // B
    bool basal_applied = false;
    std::string basal_text;   // cmbbasal
    std::string folder_text;  // Txt_inputfile
    std::string date_text;    // the current date and time as shown to the user
    // Records left out of the main and the basal acquisition for impossible counts (a header
    // line each when not empty).
    std::string excluded_records;
    std::string excluded_basal_records;
    // "START:": when the recording started and where that is known from ("" leaves the line
    // out).
    std::string start_text;
    // The recording's window length in minutes, for "BIN VALUE:" (0 when not known).
    double window_minutes = 0.0;
    // Further header lines, in order: a quoted label ("RE-ANALYSED COUNTS:") and its text.
    std::vector<std::pair<std::string, std::string>> notes;
};

// "BIN VALUE:": what the number in a bin is, for a report of `bin_size` minutes.
std::string BinValueText(std::int32_t bin_size, double window_minutes, bool basal_applied);
// "MISSING BINS:": the report bins 1..bin_count that hold no value, with their minutes ("" when
// every bin has one).
std::string MissingBinsText(const GroupStatistics& stats, std::int32_t bin_size,
                            std::int32_t length);

// The text of the report file.
std::string FormatReportText(const ReportDocument& doc, const ReportOptions& options);
// The report file: the UTF-8 byte-order mark, then the text, written to `sink` as it is made
// (a megabyte at a time).
void WriteReportText(const ReportDocument& doc, const ReportOptions& options, TextSink& sink);

// "0.0"-style text of a value with one decimal (halves to even), in the given decimal symbol.
std::string FormatOneDecimal(double value, const std::string& decimal_symbol);
// The quoted group label: "001_Control".
std::string GroupLabel(const ReportInputs& inputs, int group);
// Bin time of report bin k: k x bin size, never more than the length.
std::int32_t BinTime(std::int32_t bin, std::int32_t bin_size, std::int32_t length);

// "report.csv" or "report.txt".
std::string ReportFileName(ReportFileType type);
// The file name of the copy named after the experiment: spaces become "_", and anything that
// could leave the folder or is not allowed in a file name (separators, control characters,
// : * ? " < > |, leading dots) becomes "_" as well; at most 200 bytes. "" when nothing usable
// is left (no copy is made).
std::string ExperimentCopyName(const std::string& experiment_name);

// The decimal symbol of the user's locale ("." when it cannot be read).
std::string QueryDecimalSymbol();

}  // namespace lumivo::reporting
