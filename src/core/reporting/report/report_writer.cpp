#include "core/reporting/report/report_writer.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "core/common/rounding.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/resample.h"

namespace lumivo::reporting {

namespace {

constexpr const char* kTitleMain =
    "<<<<<< Group Activity: Average Activity Counts per Data Interval>>>>>>";
constexpr const char* kTitleWellGroups = "<<<<<<WELL ARRAY. Group Configuration>>>>>>";
constexpr const char* kTitleChannelGroups = "<<<<<<CHANNEL ARRAY. Group Configuration>>>>>>";
constexpr const char* kTitleGroupHistogram =
    "<<<<<< Group Histogram: Average Number of Frequency Counts per Data Interval>>>>>>";
constexpr const char* kTitleStdError = "<<<<<< Group Activity: Standard Error >>>>>>";
constexpr const char* kTitleStdDev = "<<<<<< Group Activity: Standard Deviation >>>>>>";
constexpr const char* kTitleHistogramStdDev = "<<<<<< Group Histogram: Standard Deviation >>>>>>";
constexpr const char* kTitleWells = "<<<<<< Group Activity: Number of wells/group >>>>>>";
constexpr const char* kTitleSamples =
    "<<<<<< Number of Samples per Acquisition Interval [1unit=500values] >>>>>>";
constexpr const char* kTitleTemperature = "<<<<<< Average Temperature [°C] >>>>>>";
constexpr const char* kTitleWellActivity = "<<<<<< Well Activity >>>>>>";
constexpr const char* kTitleWellArray = "<<<<<<WELL ARRAY. Well Activity>>>>>>";
constexpr const char* kTitleWellHistogram =
    "<<<<<< Well Histogram: Average Number of Frequency Counts per Data Interval>>>>>>";
constexpr const char* kTitleChannelActivity = "<<<<<< Channel Activity >>>>>>";

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') out += '"';
    }
    out += '"';
    return out;
}

std::string RowLetter(int row) {
    return Quote(std::string(1, static_cast<char>('A' + row)));
}

// Builds the file line by line into a buffer that goes to the sink whenever a line ends with
// more than kFlushBytes in it.
class Lines {
  public:
    static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

    Lines(std::string sp, TextSink& sink) : sp_(std::move(sp)), sink_(sink) {
        text_.reserve(kFlushBytes + 4096);
    }
    // Starts a line with its first field.
    Lines& Begin(std::string_view first) {
        text_ += first;
        return *this;
    }
    // Appends the separator and a field.
    Lines& Field(std::string_view f) {
        text_ += sp_;
        text_ += f;
        return *this;
    }
    Lines& Field(std::int64_t v) {
        text_ += sp_;
        return Raw(v);
    }
    // Appends text or a number without a separator.
    Lines& Raw(std::string_view f) {
        text_ += f;
        return *this;
    }
    Lines& Raw(std::int64_t v) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        text_.append(digits, r.ptr);
        return *this;
    }
    Lines& End() {
        text_ += "\r\n";
        if (text_.size() >= kFlushBytes) Flush();
        return *this;
    }
    Lines& Line(std::string_view whole) { return Begin(whole).End(); }
    Lines& Empty() { return End(); }
    Lines& Title(std::string_view title) { return Line(Quote(title)); }
    const std::string& sp() const { return sp_; }
    void Flush() {
        sink_.Write(text_);
        text_.clear();
    }

  private:
    std::string sp_;
    TextSink& sink_;
    std::string text_;
};

class ReportText {
  public:
    ReportText(const ReportDocument& doc, const ReportOptions& opt, TextSink& sink)
        : doc_(doc), opt_(opt), in_(*doc.inputs), st_(*doc.stats), out_(opt.spacer, sink) {
        for (int k = 1; k <= st_.bin_count; ++k) {
            if (!st_.bin_present[static_cast<std::size_t>(k)]) continue;
            present_.push_back(k);
            time_text_.push_back(std::to_string(Time(k)));
        }
    }

    void Build() {
        Header();
        MainSection();
        StatisticSections();
        Samples();
        Temperature();
        WellSection();
        if (!doc_.basal_applied) ChannelSection();
        out_.Flush();
    }

  private:
    using Value = std::string (ReportText::*)(int group, int bin) const;

    std::int32_t Time(int bin) const { return BinTime(bin, doc_.bin_size, doc_.length); }
    std::string Label(int group) const { return GroupLabel(in_, group); }
    // The group label of a channel, or the free group.
    std::string ChannelLabel(int channel, const char* free_text) const {
        if (channel < 0 || channel >= kChannelCount || !in_.InGroup(channel))
            return Quote(free_text);
        return Label(in_.channel_group[static_cast<std::size_t>(channel)]);
    }
    std::string OneDecimal(double v) const { return FormatOneDecimal(v, opt_.decimal_symbol); }

    std::string MeanText(int g, int k) const { return std::to_string(st_.Mean(g, k)); }
    std::string StdErrorText(int g, int k) const { return OneDecimal(StandardError(st_, g, k)); }
    std::string StdDevText(int g, int k) const { return OneDecimal(st_.Sd(g, k)); }
    std::string WellsText(int g, int) const {
        return std::to_string(st_.wells[static_cast<std::size_t>(g)]);
    }

    void Header() {
        out_.Begin(Quote("DATE:")).Field(Quote(doc_.date_text)).End();
        out_.Begin(Quote("FILE:")).Field(Quote(doc_.folder_text)).End();
        out_.Begin(Quote("SUBPROJECT:")).Field(Quote(in_.experiment_name)).End();
        if (!doc_.start_text.empty())
            out_.Begin(Quote("START:")).Field(Quote(doc_.start_text)).End();
        out_.Begin(Quote("BIN VALUE:"))
            .Field(Quote(BinValueText(doc_.bin_size, doc_.window_minutes, doc_.basal_applied)))
            .End();
        if (const std::string missing = MissingBinsText(st_, doc_.bin_size, doc_.length);
            !missing.empty())
            out_.Begin(Quote("MISSING BINS:")).Field(Quote(missing)).End();
        for (const auto& [label, text] : doc_.notes)
            out_.Begin(Quote(label)).Field(Quote(text)).End();
        if (!doc_.excluded_records.empty())
            out_.Begin(Quote("EXCLUDED RECORDS:")).Field(Quote(doc_.excluded_records)).End();
        if (!doc_.excluded_basal_records.empty())
            out_.Begin(Quote("EXCLUDED BASAL RECORDS:"))
                .Field(Quote(doc_.excluded_basal_records))
                .End();
        if (doc_.basal_applied) {
            out_.Begin(Quote("TIME0(BASAL MEASSURE):")).Field(Quote(doc_.basal_text)).End();
            out_.Empty();
            out_.Title("***DATA AS % OF BASAL ACTIVITY***");
        } else {
            out_.Empty();
        }
    }

    void Rows(const char* title, Value value, const std::string& basal) {
        out_.Title(title);
        out_.Begin("Group/Time[m]");
        if (doc_.basal_applied) out_.Field("0");
        for (int k : present_) out_.Field(Time(k));
        out_.End();
        for (int g = 0; g < st_.group_count; ++g) {
            out_.Begin(Label(g));
            if (doc_.basal_applied) out_.Field(basal.empty() ? (this->*value)(g, 0) : basal);
            for (int k : present_) out_.Field((this->*value)(g, k));
            out_.End();
        }
        out_.Empty();
    }

    void List(const char* title, Value value, const std::string& basal) {
        out_.Title(title);
        out_.Begin("Time").Field("Group").Field("Value").End();
        out_.Empty();
        for (int g = 0; g < st_.group_count; ++g) {
            const std::string label = Label(g);
            if (doc_.basal_applied)
                out_.Begin("0")
                    .Field(label)
                    .Field(basal.empty() ? (this->*value)(g, 0) : basal)
                    .End();
            for (std::size_t i = 0; i < present_.size(); ++i)
                out_.Begin(time_text_[i]).Field(label).Field((this->*value)(g, present_[i])).End();
            out_.Empty();
        }
    }

    // "Row/Column", then each column number followed by the separator.
    void ArrayHeader(int columns) {
        std::string line = "Row/Column" + out_.sp();
        for (int c = 1; c <= columns; ++c) line += std::to_string(c) + out_.sp();
        out_.Line(line);
    }

    void WellGroupArray() {
        out_.Title(kTitleWellGroups);
        ArrayHeader(in_.plate_columns);
        for (int r = 0; r < in_.plate_rows; ++r) {
            out_.Begin(RowLetter(r));
            for (int c = 0; c < in_.plate_columns; ++c) {
                const int first = in_.FirstChannel(c * in_.plate_rows + r);
                out_.Field(first < 0 ? std::string("-") : ChannelLabel(first, "999_Free"));
            }
            out_.End();
        }
        out_.Empty();
    }

    void ChannelGroupArray() {
        out_.Title(kTitleChannelGroups);
        ArrayHeader(24);
        for (int r = 0; r < 16; ++r) {
            out_.Begin(RowLetter(r));
            for (int c = 0; c < 24; ++c) {
                const int ch = c * 16 + r;
                out_.Field(in_.channel_well[static_cast<std::size_t>(ch)] < 0
                               ? std::string("-")
                               : ChannelLabel(ch, " 999_Free"));
            }
            out_.End();
        }
        out_.Empty();
    }

    void HistogramHeader(const std::vector<std::string>& first) {
        out_.Begin(first.front());
        for (std::size_t i = 1; i < first.size(); ++i) out_.Field(first[i]);
        for (int i = 0; i < HistogramTables::kIntervals; ++i) out_.Field(i);
        out_.End();
    }

    // The groups' histograms per present bin: their means, or with `sd` the standard
    // deviations of the wells' histograms (one decimal).
    void GroupHistogram(const char* title, bool sd) {
        out_.Title(title);
        HistogramHeader({"Time[m]", "Group/Frequency:"});
        const HistogramTables* h = doc_.histogram;
        for (int k : present_) {
            if (h && !h->Known(k)) continue;  // no valid histogram: no line, not zeros
            for (int g = 0; g < st_.group_count; ++g) {
                out_.Begin(std::to_string(Time(k))).Field(Label(g));
                for (int i = 0; i < HistogramTables::kIntervals; ++i) {
                    const bool known = h && g < h->group_count && k <= h->bin_count;
                    if (sd)
                        out_.Field(OneDecimal(known ? h->GroupSd(g, k, i) : 0));
                    else
                        out_.Field(known ? h->Group(g, k, i) : 0);
                }
                out_.End();
            }
        }
        out_.Empty();
    }

    void MainSection() {
        switch (opt_.output) {
            case OutputFormat::Rows:
                Rows(kTitleMain, &ReportText::MeanText, "100");
                break;
            case OutputFormat::List:
                List(kTitleMain, &ReportText::MeanText, "100");
                break;
            case OutputFormat::WellArray:
                WellGroupArray();
                break;
            case OutputFormat::ChannelArray:
                ChannelGroupArray();
                break;
            case OutputFormat::Histogram:
                GroupHistogram(kTitleGroupHistogram, false);
                break;
        }
    }

    // A group table in the layout of the main section ("Rows" or "List").
    void GroupTable(const char* title, Value value, const std::string& basal) {
        if (opt_.output == OutputFormat::List)
            List(title, value, basal);
        else
            Rows(title, value, basal);
    }

    void StatisticSections() {
        const OutputFormat o = opt_.output;
        const std::string zero = OneDecimal(0.0);
        if (opt_.std_error && StatisticOffered(o, StatisticBox::StdError))
            GroupTable(kTitleStdError, &ReportText::StdErrorText, zero);
        if (opt_.std_dev && StatisticOffered(o, StatisticBox::StdDev)) {
            if (o == OutputFormat::Histogram)
                GroupHistogram(kTitleHistogramStdDev, true);
            else
                GroupTable(kTitleStdDev, &ReportText::StdDevText, zero);
        }
        // The basal column repeats the number of wells.
        if (opt_.wells && StatisticOffered(o, StatisticBox::Wells))
            GroupTable(kTitleWells, &ReportText::WellsText, "");
    }

    void Samples() {
        if (opt_.output != OutputFormat::Rows && opt_.output != OutputFormat::List) return;
        out_.Title(kTitleSamples);
        if (opt_.output == OutputFormat::Rows) {
            out_.Begin("Time[m]");
            if (doc_.basal_applied) out_.Field("0");
            for (int k : present_) out_.Field(Time(k));
            out_.End();
            // The basal column has no samples of this acquisition.
            out_.Begin("#Samples");
            if (doc_.basal_applied) out_.Field("?");
            for (int k : present_) out_.Field(st_.samples[static_cast<std::size_t>(k)]);
            out_.End();
        } else {
            out_.Begin("Time").Field("#Samples").End();
            out_.Empty();
            for (std::size_t i = 0; i < present_.size(); ++i)
                out_.Begin(time_text_[i])
                    .Field(st_.samples[static_cast<std::size_t>(present_[i])])
                    .End();
        }
        out_.Empty();
    }

    std::string TemperatureText(int k) const {
        const int tenths = st_.temperature[static_cast<std::size_t>(k)];
        const int a = std::abs(tenths);
        return std::string(tenths < 0 ? "-" : "") + std::to_string(a / 10) + opt_.decimal_symbol +
               std::to_string(a % 10);
    }

    void Temperature() {
        out_.Title(kTitleTemperature);
        if (opt_.output == OutputFormat::List) {
            out_.Begin("Time").Field("Avrg_Temp[°C]").End();
            for (std::size_t i = 0; i < present_.size(); ++i)
                out_.Begin(time_text_[i]).Field(TemperatureText(present_[i])).End();
        } else {
            out_.Begin("Time[m]");
            if (doc_.basal_applied) out_.Field("0");
            for (int k : present_) out_.Field(Time(k));
            out_.End();
            out_.Begin("Temp[°C]");
            if (doc_.basal_applied) out_.Field("?");
            for (int k : present_) out_.Field(TemperatureText(k));
            out_.End();
        }
        out_.Empty();
    }

    // Wells whose first beam maps to a channel.
    std::vector<int> ListedWells() const {
        std::vector<int> wells;
        for (int w = 0; w <= in_.max_well_index; ++w)
            if (in_.FirstChannel(w) >= 0) wells.push_back(w);
        return wells;
    }
    std::string WellName(int w) const { return in_.well_names[static_cast<std::size_t>(w)]; }
    std::string WellLabel(int w) const { return ChannelLabel(in_.FirstChannel(w), "999_Free"); }

    void WellSection() {
        switch (opt_.output) {
            case OutputFormat::Rows: {
                out_.Title(kTitleWellActivity);
                out_.Begin("Well").Field("Group/Time[m]");
                if (doc_.basal_applied) out_.Field("0");
                for (int k : present_) out_.Field(Time(k));
                out_.End();
                for (int w : ListedWells()) {
                    out_.Begin(WellName(w)).Field(WellLabel(w));
                    if (doc_.basal_applied) out_.Field("100");
                    for (int k : present_) out_.Field(st_.WellValue(w, k));
                    out_.End();
                }
                out_.Empty();
                break;
            }
            case OutputFormat::List: {
                out_.Title(kTitleWellActivity);
                out_.Begin("Time").Field("Well").Field("Group").Field("Value").End();
                out_.Empty();
                for (int w : ListedWells()) {
                    // Everything between the time and the value, the same on every line.
                    const std::string middle = out_.sp() + WellName(w) + out_.sp() + WellLabel(w);
                    if (doc_.basal_applied) out_.Begin("0").Raw(middle).Field("100").End();
                    for (std::size_t i = 0; i < present_.size(); ++i)
                        out_.Begin(time_text_[i])
                            .Raw(middle)
                            .Field(st_.WellValue(w, present_[i]))
                            .End();
                    out_.Empty();
                }
                break;
            }
            case OutputFormat::WellArray: {
                out_.Title(kTitleWellArray);
                for (int k : present_) {
                    out_.Begin("Time_Block[m]").Field(Time(k)).End();
                    ArrayHeader(in_.plate_columns);
                    for (int r = 0; r < in_.plate_rows; ++r) {
                        out_.Begin(RowLetter(r));
                        for (int c = 0; c < in_.plate_columns; ++c) {
                            const int w = c * in_.plate_rows + r;
                            if (in_.FirstChannel(w) < 0)
                                out_.Field("-");
                            else
                                out_.Field(st_.WellValue(w, k));
                        }
                        out_.End();
                    }
                    out_.Empty();
                }
                break;
            }
            case OutputFormat::Histogram: {
                out_.Title(kTitleWellHistogram);
                HistogramHeader({"Time[m]", "Well", "Group/Frequency:"});
                const HistogramTables* h = doc_.histogram;
                for (int k : present_) {
                    if (h && !h->Known(k)) continue;
                    for (int w : ListedWells()) {
                        out_.Begin(std::to_string(Time(k))).Field(WellName(w)).Field(WellLabel(w));
                        for (int i = 0; i < HistogramTables::kIntervals; ++i)
                            out_.Field(
                                h && w < h->well_count && k <= h->bin_count ? h->Well(w, k, i) : 0);
                        out_.End();
                    }
                }
                out_.Empty();
                break;
            }
            case OutputFormat::ChannelArray:
                break;
        }
    }

    std::string ChannelWellName(int c) const {
        const int w = in_.channel_well[static_cast<std::size_t>(c)];
        return w < 0 ? std::string("-") : WellName(w);
    }

    void ChannelSection() {
        switch (opt_.output) {
            case OutputFormat::Rows:
                out_.Title(kTitleChannelActivity);
                out_.Begin("Channel").Field("Well").Field("Group/Time[m]");
                for (int k : present_) out_.Field(Time(k));
                out_.End();
                for (int c = 0; c < kChannelCount; ++c) {
                    out_.Begin("CH" + std::to_string(c))
                        .Field(ChannelWellName(c))
                        .Field(ChannelLabel(c, "999_Free"));
                    for (int k : present_) out_.Field(st_.ChannelValue(c, k));
                    out_.End();
                }
                out_.Empty();
                break;
            case OutputFormat::List:
                out_.Title(kTitleChannelActivity);
                out_.Begin("Time")
                    .Field("Channel")
                    .Field("Well")
                    .Field("Group")
                    .Field("Value")
                    .End();
                out_.Empty();
                for (int c = 0; c < kChannelCount; ++c) {
                    const std::string middle = out_.sp() + "CH" + std::to_string(c) + out_.sp() +
                                               ChannelWellName(c) + out_.sp() +
                                               ChannelLabel(c, "999_Free");
                    for (std::size_t i = 0; i < present_.size(); ++i)
                        out_.Begin(time_text_[i])
                            .Raw(middle)
                            .Field(st_.ChannelValue(c, present_[i]))
                            .End();
                    out_.Empty();
                }
                break;
            case OutputFormat::ChannelArray:
                out_.Line("ARRAY OUTPUT FORMAT");
                for (int k : present_) {
                    out_.Begin("Time_Block[m]").Field(Time(k)).End();
                    ArrayHeader(24);
                    for (int r = 0; r < 16; ++r) {
                        out_.Begin(RowLetter(r));
                        for (int c = 0; c < 24; ++c) {
                            const int ch = c * 16 + r;
                            if (in_.channel_well[static_cast<std::size_t>(ch)] < 0)
                                out_.Field("-");
                            else
                                out_.Field(st_.ChannelValue(ch, k));
                        }
                        out_.End();
                    }
                    out_.Empty();
                }
                break;
            case OutputFormat::WellArray:
            case OutputFormat::Histogram:
                break;
        }
    }

    const ReportDocument& doc_;
    const ReportOptions& opt_;
    const ReportInputs& in_;
    const GroupStatistics& st_;
    Lines out_;
    std::vector<int> present_;            // the present report bins
    std::vector<std::string> time_text_;  // their bin times as text
};

}  // namespace

bool StatisticOffered(OutputFormat output, StatisticBox box) {
    const bool group_tables = output == OutputFormat::Rows || output == OutputFormat::List;
    if (box == StatisticBox::StdDev) return group_tables || output == OutputFormat::Histogram;
    return group_tables;
}

std::string FormatOneDecimal(double value, const std::string& decimal_symbol) {
    if (!std::isfinite(value)) value = 0.0;
    const double tenths = RoundHalfEven(value * 10.0);
    const bool negative = tenths < 0.0;
    const auto a = static_cast<long long>(negative ? -tenths : tenths);
    return std::string(negative ? "-" : "") + std::to_string(a / 10) + decimal_symbol +
           std::to_string(a % 10);
}

std::string GroupLabel(const ReportInputs& inputs, int group) {
    std::string number = std::to_string(group);
    if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
    const auto g = static_cast<std::size_t>(group);
    const std::string name = g < inputs.group_names.size() ? inputs.group_names[g] : std::string();
    return Quote(number + "_" + name);
}

std::int32_t BinTime(std::int32_t bin, std::int32_t bin_size, std::int32_t length) {
    const std::int64_t t = std::int64_t{bin} * bin_size;
    return static_cast<std::int32_t>(std::min<std::int64_t>(t, length));
}

std::string BinValueText(std::int32_t bin_size, double window_minutes, bool basal_applied) {
    std::string text = "activity counts in each bin of " + std::to_string(bin_size) +
                       " min: the counts of the windows that ended in it";
    if (window_minutes > 0.0) text += " (" + WindowLengthText(window_minutes) + " each)";
    text +=
        ", scaled to the whole bin by the time they cover; a bin they cover for less than "
        "three quarters has no value and is left out; Time[m] is the end of the bin";
    if (basal_applied) text += "; then as % of the basal activity";
    return text;
}

std::string MissingBinsText(const GroupStatistics& stats, std::int32_t bin_size,
                            std::int32_t length) {
    std::string ranges;
    int missing = 0, ranges_written = 0;
    constexpr int kMaxRanges = 20;
    for (int k = 1; k <= stats.bin_count; ++k) {
        if (stats.bin_present[static_cast<std::size_t>(k)]) continue;
        int e = k;
        while (e < stats.bin_count && !stats.bin_present[static_cast<std::size_t>(e) + 1]) ++e;
        missing += e - k + 1;
        if (ranges_written++ < kMaxRanges) {
            ranges += (ranges.empty() ? "" : ", ") +
                      std::to_string(std::int64_t{k - 1} * bin_size) + "-" +
                      std::to_string(BinTime(e, bin_size, std::max(length, e * bin_size))) + " min";
        } else if (ranges_written == kMaxRanges + 1) {
            ranges += ", ...";
        }
        k = e;
    }
    if (missing == 0) return {};
    return std::to_string(missing) + " of " + std::to_string(stats.bin_count) +
           (stats.bin_count == 1 ? " bin has" : " bins have") +
           " no value (the recording does not cover three quarters of them: a pause, a gap, a "
           "lost instrument) and " +
           (missing == 1 ? "is" : "are") + " left out: " + ranges;
}

std::string ReportFileName(ReportFileType type) {
    return type == ReportFileType::Csv ? "report.csv" : "report.txt";
}

std::string ExperimentCopyName(const std::string& experiment_name) {
    std::string name;
    for (char ch : experiment_name) {
        const auto u = static_cast<unsigned char>(ch);
        const bool unsafe = u < 0x20 || u == 0x7F || ch == '/' || ch == '\\' || ch == ':' ||
                            ch == '*' || ch == '?' || ch == '"' || ch == '<' || ch == '>' ||
                            ch == '|' || ch == ' ';
        name += unsafe ? '_' : ch;
    }
    // A leading dot would make ".." or a hidden file.
    for (char& ch : name) {
        if (ch != '.') break;
        ch = '_';
    }
    if (name.size() > 200) name.resize(200);
    if (name.find_first_not_of('_') == std::string::npos) return {};
    return name;
}

std::string QueryDecimalSymbol() {
    locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return ".";
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    std::string symbol = radix != nullptr && *radix != '\0' ? radix : ".";
    ::freelocale(loc);
    return symbol;
}

std::string FormatReportText(const ReportDocument& doc, const ReportOptions& options) {
    StringSink sink;
    ReportText(doc, options, sink).Build();
    return sink.Take();
}

void WriteReportText(const ReportDocument& doc, const ReportOptions& options, TextSink& sink) {
    sink.Write(kUtf8Bom);
    ReportText(doc, options, sink).Build();
}

}  // namespace lumivo::reporting
