#include "core/storage/report_config.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

#include "core/storage/field_record.h"

namespace lumivo {

namespace {

constexpr const char* kHeader =
    "<User_defined>, <Bin>, <filetype>, <spacer>, <stdError>, <stdDev>, <n>, <out_format>, "
    "<organism>, <method>, <threshold>, <rawexport>";

void KeepIn(std::int16_t& v, int lo, int hi, std::int16_t fallback) {
    if (v < lo || v > hi) v = fallback;
}

}  // namespace

std::string QueryListSeparator() {
    locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return ",";
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    const bool comma_decimal = radix != nullptr && std::strcmp(radix, ",") == 0;
    ::freelocale(loc);
    return comma_decimal ? ";" : ",";
}

void RefreshListSeparator(StorageContext& ctx, ReportSettings& settings) {
    std::string sep =
        ctx.list_separator_source ? ctx.list_separator_source() : QueryListSeparator();
    settings.ListSeparator = sep.empty() ? std::string(",") : sep;
}

void DefaultReportConfig(StorageContext& ctx, ReportSettings& settings) {
    RefreshListSeparator(ctx, settings);
    settings.config = ReportConfig{};
    settings.config.spacer = settings.ListSeparator;
}

void ValidateReportConfig(ReportConfig& c) {
    const ReportConfig d;
    KeepIn(c.Bin, 2, 1440, d.Bin);
    KeepIn(c.filetype, 0, 1, d.filetype);
    KeepIn(c.stdError, 0, 1, d.stdError);
    KeepIn(c.stdDev, 0, 1, d.stdDev);
    KeepIn(c.n, 0, 1, d.n);
    KeepIn(c.out_format, 0, 3, d.out_format);
    KeepIn(c.organism, 0, 2, d.organism);
    KeepIn(c.method, 0, 2, d.method);
    KeepIn(c.threshold, 11, 30, d.threshold);
    KeepIn(c.rawexport, 0, 1, d.rawexport);
}

std::string FormatReportConfigFile(const ReportConfig& c, std::int16_t user_defined) {
    RecordWriter out;
    out.Header(kHeader);
    out.Int(user_defined)
        .Int(c.Bin)
        .Int(c.filetype)
        .Text(c.spacer)
        .Int(c.stdError)
        .Int(c.stdDev)
        .Int(c.n)
        .Int(c.out_format)
        .Int(c.organism)
        .Int(c.method)
        .Int(c.threshold)
        .Int(c.rawexport)
        .EndLine();
    return out.Take();
}

bool SaveReportConfig(StorageContext& ctx, const ReportSettings& settings,
                      std::int16_t user_defined) {
    try {
        ctx.files.WriteFile(ctx.install_dir / kReportConfigFileName,
                            FormatReportConfigFile(settings.config, user_defined));
        return true;
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox("Error Writing Report Configuration (repoconf.dat)");
        return false;
    }
}

std::int16_t LoadReportConfig(StorageContext& ctx, ReportSettings& settings,
                              std::int16_t use_stored) {
    const auto file = ctx.install_dir / kReportConfigFileName;
    if (use_stored == 0 || !ctx.files.IsFile(file)) {
        DefaultReportConfig(ctx, settings);
        SaveReportConfig(ctx, settings, use_stored);
        return 0;
    }
    try {
        RecordReader in(ctx.files.ReadFile(file));
        in.SkipLine();
        const auto f = in.Record(12);
        std::int16_t user_defined = FieldToInt16(f[0]);
        ReportConfig c;
        c.Bin = FieldToInt16(f[1]);
        c.filetype = FieldToInt16(f[2]);
        c.spacer = f[3].text;
        c.stdError = FieldToInt16(f[4]);
        c.stdDev = FieldToInt16(f[5]);
        c.n = FieldToInt16(f[6]);
        c.out_format = FieldToInt16(f[7]);
        c.organism = FieldToInt16(f[8]);
        c.method = FieldToInt16(f[9]);
        c.threshold = FieldToInt16(f[10]);
        c.rawexport = FieldToInt16(f[11]);
        ValidateReportConfig(c);
        if (user_defined != 0 && user_defined != 1) user_defined = use_stored;
        settings.config = c;
        return user_defined;
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox("Error loading repoconf.dat -> Using Default values");
        DefaultReportConfig(ctx, settings);
        SaveReportConfig(ctx, settings, 0);
        return 0;
    }
}

}  // namespace lumivo
