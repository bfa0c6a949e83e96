// The circadian and sleep views as long-format CSV tables (one observation a line, a header line,
// "," between fields, "." decimals, "NA" where there is no value, CR LF line ends, UTF-8 without a
// preamble), so that R's data.table::fread and pandas' read_csv read them directly.
//
// Every table begins with the series: `id` (the well "A1", or the group "001_Control"), `kind`
// ("well" or "group"), `group` (the well's group, "999_Free" for none) and `status` (the well's
// "OK", "dead" or "no beams"; "NA" for a group's mean). Times are hours: `t_h` from the start of
// sampling on the run's clock, or into the row or the day.
//
//   actogram.csv    id,kind,group,status,row,t_h,offset_h,counts,light
//                   one line per series and bin; row from 1, counts the bin's mean count of the
//                   well's beams (a group's: the mean over its wells), light "light"/"dark"/"NA"
//   periodogram.csv id,kind,group,status,n_wells,method,peak_rule,period_min_h,period_max_h,
//                   alpha,peak_period_h,power,threshold,significant
//                   one line per series; peak_rule "max-power" (the period of the largest
//                   power) or "above-line" (the period standing highest above the significance
//                   line); significant TRUE or FALSE
//   profile.csv     id,kind,group,n_wells,fold,t_h,mean,se,light
//                   fold "run" (t_h from the start) or "day" (t_h the hour of the day)
//   sleep.csv       id,kind,group,status,n_wells,phase,observed_min,sleep_min,sleep_pct,
//                   zero_min,bouts,mean_bout_min,latency_min,nights,bout_min
//                   one line per series and light phase ("light", "dark", "all"; only "all"
//                   when the light is unknown); sleep_min the minutes in bouts (sleep_pct of
//                   observed_min), zero_min every observed minute without a count, in bouts
//                   or not; a bout across a light change counts in each phase by its part there;
//                   latency and nights on the "dark" line; definition the sleep rule's
//                   organism ("C elegans(>L4)", "Zebrafish(Larvae)", "Customized") and rule its
//                   words ("no counts for at least 1 min")
//   cosinor.csv     id,kind,group,status,n_wells,period_h,period_source,reference,n_bins,mesor,
//                   mesor_lo,mesor_hi,amplitude,amplitude_lo,amplitude_hi,acrophase_h,
//                   acrophase_lo_h,acrophase_hi_h,acrophase_zt,acrophase_zt_lo,acrophase_zt_hi,
//                   f,df1,df2,p,r2,note
//                   one line per series; acrophase in hours after the reference ("midnight" of
//                   the first day or "start" of sampling), _zt in hours after lights on; _lo and
//                   _hi the 95 % interval (NA for the acrophase when p >= 0.05)
//   indices.csv     id,kind,group,status,n_wells,bin_min,days,is,iv,ra,m10,m10_onset_h,l5,
//                   l5_onset_h,note
//                   one line per series; the onsets are times of day in hours
//   onsets.csv      id,kind,group,status,n_wells,day,date,day_mean,onset_h,offset_h,onset_t_h,
//                   offset_t_h,smooth_h,period_h,period_lo_h,period_hi_h,onsets
//                   one line per series and day (an actogram row, from 1); onset_h and
//                   offset_h hours into the day's row (an offset past the row's end above its
//                   length), _t_h from the start of sampling; the free-running period from the
//                   onsets (with its 95 % interval) on every line of the series
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/rhythm/rhythm_views.h"

namespace lumivo::reporting {

// A CSV field: quoted (inner quotes doubled) when it holds a separator, a quote or a line break.
std::string CsvField(std::string_view text);
// A number with at most `decimals` decimals (halves rounded to even) in its shortest form, "NA"
// for NaN or infinity.
std::string CsvNumber(double v, int decimals = 4);

std::string ActogramTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                          const ActogramLayout& layout);
std::string PeriodogramTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                             const PeriodogramSet& set, const PeriodogramOptions& options);
std::string ProfileTable(const RhythmData& data, const Profile& profile);
std::string SleepTable(const RhythmData& data, const SleepView& view,
                       const std::vector<SeriesRef>& series);
std::string CosinorTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                         const CosinorView& view);
std::string IndicesTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                         const std::vector<RestActivity>& indices);
std::string OnsetsTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                        const ActogramLayout& layout, const std::vector<PhaseMarkers>& markers,
                        double smooth_hours);

}  // namespace lumivo::reporting
