#include "core/reporting/rhythm/sleep_bouts.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace lumivo::reporting {

std::string_view OrganismName(Organism organism) {
    switch (organism) {
        case Organism::CElegans:
            return "C elegans(>L4)";
        case Organism::Zebrafish:
            return "Zebrafish(Larvae)";
        case Organism::Customized:
            return "Customized";
    }
    return "Customized";
}

std::optional<Organism> ParseOrganism(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (Organism o : {Organism::CElegans, Organism::Zebrafish, Organism::Customized}) {
        std::string name(OrganismName(o));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == name) return o;
    }
    if (lower == "worm" || lower == "celegans") return Organism::CElegans;
    if (lower == "zebrafish" || lower == "fish") return Organism::Zebrafish;
    if (lower == "custom") return Organism::Customized;
    return std::nullopt;
}

Organism OrganismOfSetting(int value) {
    return value == 0   ? Organism::CElegans
           : value == 1 ? Organism::Zebrafish
                        : Organism::Customized;
}

double DefaultBoutMinutesOf(Organism organism) {
    switch (organism) {
        case Organism::CElegans:
            return 2.0;
        case Organism::Zebrafish:
            return 1.0;
        case Organism::Customized:
            return kDefaultBoutMinutes;
    }
    return kDefaultBoutMinutes;
}

std::string SleepDefinition::RuleText() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", bout_minutes);
    return std::string("no counts for at least ") + buf + " min";
}

SleepDefinition ResolveSleepDefinition(Organism project, std::optional<Organism> chosen,
                                       std::optional<double> bout_minutes) {
    SleepDefinition d;
    d.organism = chosen.value_or(project);
    d.bout_minutes = DefaultBoutMinutesOf(d.organism);
    if (bout_minutes && *bout_minutes != d.bout_minutes) {
        d.organism = Organism::Customized;
        d.bout_minutes = *bout_minutes;
    }
    return d;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void AddSpan(SleepSummary& s, const std::vector<LightPhase>& phases, double a, double b,
             double PhaseSleep::*field) {
    const double light = LightMinutes(phases, a, b);
    s.light.*field += light;
    s.dark.*field += (b - a) - light;
    s.all.*field += b - a;
}

}  // namespace

double PhaseSleep::SleepShare() const {
    return observed_minutes > 0.0 ? sleep_minutes / observed_minutes : kNaN;
}

double PhaseSleep::MeanBout() const {
    return bouts > 0 ? bout_minutes / bouts : kNaN;
}

double SleepSummary::MeanLatency() const {
    return nights_with_bout > 0 ? latency_sum / nights_with_bout : kNaN;
}

std::vector<Bout> DarkPhasesAfterLight(const std::vector<LightPhase>& phases) {
    std::vector<Bout> out;
    for (std::size_t i = 1; i < phases.size(); ++i)
        if (!phases[i].light && phases[i - 1].light)
            out.push_back({phases[i].begin, phases[i].end});
    return out;
}

SleepSummary AnalyseSleep(const double* values, std::size_t bins,
                          const std::vector<std::uint8_t>& observed, double bin_minutes,
                          const std::vector<LightPhase>& phases, double bout_minutes) {
    SleepSummary s;
    s.state.assign(bins, 2);
    // Bins a bout must last: at least `bout_minutes` (a bout of 5 minutes in 2-minute bins
    // needs 3 bins).
    const auto min_bins =
        static_cast<std::size_t>(std::max(1.0, std::ceil(bout_minutes / bin_minutes - 1e-9)));
    auto end_run = [&](std::size_t from, std::size_t to) {  // inactive bins [from, to)
        if (to - from < min_bins) return;
        const double a = static_cast<double>(from) * bin_minutes;
        const double b = static_cast<double>(to) * bin_minutes;
        s.bouts.push_back({a, b});
        for (std::size_t k = from; k < to; ++k) s.state[k] = 1;
        // The phases' figures take the part of the bout that lies in each: a bout across a
        // light change is a bout of each phase, as long as its part in it.
        double at = a;
        while (at < b - 1e-9) {
            double until = b;
            bool light = false;
            for (const LightPhase& p : phases) {
                if (p.end <= at + 1e-9 || p.begin > at + 1e-9) continue;
                light = p.light;
                until = std::min(b, p.end);
                break;
            }
            if (until <= at + 1e-9) until = b;  // beyond the phases: the rest, as dark
            PhaseSleep& phase = light ? s.light : s.dark;
            ++phase.bouts;
            phase.bout_minutes += until - at;
            at = until;
        }
        ++s.all.bouts;
        s.all.bout_minutes += b - a;
        AddSpan(s, phases, a, b, &PhaseSleep::sleep_minutes);
    };
    std::size_t run_from = 0;
    bool in_run = false;
    for (std::size_t k = 0; k < bins; ++k) {
        const bool seen = observed[k] != 0;
        if (seen) {
            s.state[k] = 0;
            const double a = static_cast<double>(k) * bin_minutes;
            AddSpan(s, phases, a, a + bin_minutes, &PhaseSleep::observed_minutes);
        }
        const bool inactive = seen && values[k] == 0.0;
        if (inactive) {
            const double a = static_cast<double>(k) * bin_minutes;
            AddSpan(s, phases, a, a + bin_minutes, &PhaseSleep::zero_minutes);
        }
        if (inactive && !in_run) {
            run_from = k;
            in_run = true;
        } else if (!inactive && in_run) {
            end_run(run_from, k);
            in_run = false;
        }
    }
    if (in_run) end_run(run_from, bins);

    // Latency after each lights-off the recording covers.
    for (const Bout& night : DarkPhasesAfterLight(phases)) {
        const double k = std::floor(night.begin / bin_minutes);
        if (k < 0 || k >= static_cast<double>(bins) || !observed[static_cast<std::size_t>(k)])
            continue;
        ++s.nights;
        const auto first =
            std::lower_bound(s.bouts.begin(), s.bouts.end(), night.begin,
                             [](const Bout& b, double t) { return b.begin < t - 1e-9; });
        if (first == s.bouts.end() || first->begin >= night.end) continue;
        ++s.nights_with_bout;
        s.latency_sum += first->begin - night.begin;
    }
    return s;
}

}  // namespace lumivo::reporting
