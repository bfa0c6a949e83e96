// The circadian measures of one binned series beside the periodograms: the single-component
// cosinor, the non-parametric rest-activity indices and the daily phase markers. Each works on
// the observed bins only; a bin the recording does not cover is left out, never read as zero.
//
// Cosinor (Nelson et al. 1979): y(t) = M + b cos(2 pi t / P) + g sin(2 pi t / P) fitted by least
// squares at a given period P, t the hours from the reference (midnight of the first day when
// the start is known, else the start of sampling) to the bin's middle. Amplitude A = sqrt(b^2 +
// g^2), acrophase the time of the curve's peak in hours after the reference, modulo P. The 95 %
// intervals are t(0.975, n - 3) x the standard errors from the covariance of the fit (the delta
// method for amplitude and acrophase); the acrophase has none when the amplitude is not
// significant (p >= 0.05), as its confidence region then holds every phase. The zero-amplitude
// test is the F test of the fit against its mesor alone, F(2, n - 3); the variance explained is
// R^2 of the fit.
//
// Rest-activity indices (Witting et al. 1990; Van Someren et al. 1999), for p bins a day (24 for
// hourly data) and N observed bins x_i with mean m:
//     IS = N sum_h (m_h - m)^2 / (p sum_i (x_i - m)^2)      m_h the mean of slot h over the days
//     IV = N sum_i (x_i - x_{i-1})^2 / ((N - 1) sum_i (x_i - m)^2)
// over the slots observed and the pairs of neighbouring bins both observed (their count instead
// of N - 1). M10 and L5 are the highest mean of 10 and the lowest of 5 consecutive hours of the
// average day (m_h, going round midnight), with the time of day their windows begin; RA =
// (M10 - L5) / (M10 + L5).
//
// Phase markers: per day (a row of the actogram), the series smoothed by a centred moving mean
// is compared with the day's mean. Of the stretches above the mean that begin in the day, the
// longest is the day's active phase; its upward crossing is the onset and its downward crossing
// the offset (each between bin middles by linear interpolation; a stretch cut by an unobserved
// bin has no offset). A day with less than three quarters observed has no markers. The
// free-running period is the slope of the onsets' times over the days (least squares, with its
// 95 % interval), from three onsets or more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivo::reporting {

// ---- Cosinor -----------------------------------------------------------------------------------

struct CosinorFit {
    bool valid = false;
    std::string why;  // why there is no fit
    double period_h = 24.0;
    int n = 0;  // observed bins fitted
    double mesor = 0, mesor_lo = 0, mesor_hi = 0;
    double amplitude = 0, amplitude_lo = 0, amplitude_hi = 0;
    // Hours after the reference, in [0, P); the interval's ends each wrapped into [0, P) (the
    // low end is above the high one when the interval spans the reference). NaN ends when the
    // amplitude is not significant.
    double acrophase_h = 0, acrophase_lo_h = 0, acrophase_hi_h = 0;
    double f = 0, p = 1;  // zero-amplitude test, F(2, n - 3)
    double r2 = 0;        // fraction of the variance explained
    double beta = 0, gamma = 0;

    // The fitted curve at `hours` after the reference.
    double At(double hours) const;
};

// `reference_minute` is the clock minute of the reference (minus the start's minute of the day
// for midnight of the first day, 0 for the start of sampling).
CosinorFit FitCosinor(const double* values, std::size_t bins,
                      const std::vector<std::uint8_t>& observed, double bin_minutes,
                      double period_hours, double reference_minute);

// The acrophase in zeitgeber time: hours after lights on (a time of day) of a time of day,
// in [0, 24).
double ZeitgeberHours(double hour_of_day, double lights_on_hour);

// ---- Rest-activity indices ---------------------------------------------------------------------

struct RestActivity {
    bool valid = false;
    std::string why;
    double days = 0;  // observed bins as days
    double is = 0, iv = 0, ra = 0;
    double m10 = 0, l5 = 0;
    double m10_onset_h = 0, l5_onset_h = 0;  // time of day their windows begin, hours
    // The average day: the mean of each slot of a day over the days, slot 0 beginning at
    // `first_slot_h` o'clock (the start of sampling's time of day).
    std::vector<double> profile;
    double first_slot_h = 0;
    double slot_hours = 1;
};

// Bins of `bin_minutes` (which must divide an hour) from the start of sampling at
// `start_minute_of_day`; the recording must span two days or more and observe every time of
// day at least once.
RestActivity RestActivityIndices(const double* values, std::size_t bins,
                                 const std::vector<std::uint8_t>& observed, double bin_minutes,
                                 double start_minute_of_day);

// ---- Phase markers -----------------------------------------------------------------------------

inline constexpr double kDefaultSmoothHours = 2.0;

struct DayMarkers {
    int row = 0;        // from 0
    double mean = 0;    // the day's mean, NaN when the day is too little observed
    double onset = 0;   // clock minutes, NaN when none
    double offset = 0;  // clock minutes, NaN when none
};

struct PhaseMarkers {
    std::vector<DayMarkers> days;
    int onsets = 0;       // days with an onset
    double period_h = 0;  // free-running period from the onsets, NaN with fewer than 3
    double period_lo_h = 0, period_hi_h = 0;
};

// Days are rows of `day_minutes` beginning at clock minute `origin` (the actogram's rows).
PhaseMarkers FindPhaseMarkers(const double* values, std::size_t bins,
                              const std::vector<std::uint8_t>& observed, double bin_minutes,
                              double origin, double day_minutes, int rows, double smooth_hours);

}  // namespace lumivo::reporting
