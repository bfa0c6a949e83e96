// Feeds arbitrary counts minutes and events.log text through the browser's status strip and the
// light schedule of the circadian views, and the same text, line by line, through the list-entry
// readers and the filter. Byte 0 gives the number of records (times 4 bytes of minutes that
// follow); the rest is the log. The strip must cover 0..run_minutes with ordered stretches of
// positive length, the cells must be as many as asked, the light phases must cover the run and
// the day in order, and no reader may index outside its text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/offline/acquisition_browser.h"
#include "core/offline/browser_entries.h"
#include "core/offline/recording_status.h"
#include "core/reporting/rhythm/light_schedule.h"

namespace {

using namespace lumivo::offline;

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t records = std::min<std::size_t>(data[0], (size - 1) / 4);
    std::vector<std::int32_t> minutes(records);
    for (std::size_t i = 0; i < records; ++i) {
        std::uint32_t u = 0;
        std::memcpy(&u, data + 1 + 4 * i, 4);
        minutes[i] = static_cast<std::int32_t>(u);
    }
    const std::string_view log(reinterpret_cast<const char*>(data + 1 + 4 * records),
                               size - 1 - 4 * records);

    const RecordingStatus st = AnalyseRecording(minutes, log);
    Check(std::isfinite(st.run_minutes) && st.run_minutes >= 0.0);
    Check(st.windows_recorded == records);
    double at = 0.0;
    for (const StripSegment& s : st.segments) {
        Check(std::isfinite(s.begin_minute) && std::isfinite(s.end_minute));
        Check(s.begin_minute >= at - 1e-9 && s.end_minute > s.begin_minute);
        at = s.end_minute;
    }
    for (std::size_t cells : {std::size_t{1}, std::size_t{7}, std::size_t{300}})
        Check(StripCells(st, cells).size() == cells);
    for (const LoggedPeriod& p : st.silences)
        Check(std::isfinite(p.begin_minute) && std::isfinite(p.end_minute));

    // The light the log (or, without one, a cycle that wraps past midnight) gives the run.
    {
        using namespace lumivo::reporting;
        const lumivo::RunLog run_log = lumivo::ParseRunLog(log);
        const std::string first_line(log.substr(0, std::min<std::size_t>(log.find('\n'), 64)));
        const RunClock clock = MakeRunClock(run_log, first_line, first_line);
        LightProgram program;
        program.cycle_enabled = true;
        program.on_hour = data[0] % 24;
        program.off_hour = (data[0] / 24) % 24;
        const double run = std::fmod(st.run_minutes, 20000.0) + 1.0;
        const LightSchedule light = MakeLightSchedule(program, clock, run_log, run);
        auto ordered = [](const std::vector<LightPhase>& phases, double end) {
            double edge = 0.0;
            for (std::size_t i = 0; i < phases.size(); ++i) {
                Check(std::abs(phases[i].begin - edge) < 1e-6 && phases[i].end > phases[i].begin);
                Check(i == 0 || phases[i].light != phases[i - 1].light);
                edge = phases[i].end;
            }
            Check(phases.empty() || std::abs(edge - end) < 1e-6);
        };
        ordered(light.phases, run);
        ordered(light.daily, 1440.0);
        Check(clock.start_known || light.phases.empty());
    }

    // The log's lines as list entries.
    std::vector<std::string> entries;
    std::size_t pos = 0;
    while (pos <= log.size() && entries.size() < 64) {
        std::size_t end = log.find('\n', pos);
        if (end == std::string_view::npos) end = log.size();
        entries.emplace_back(log.substr(pos, end - pos));
        pos = end + 1;
    }
    const std::vector<std::string> words = FilterWords(std::string(log.substr(0, 200)));
    Check(words.size() <= kMaxFilterWords);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EntryTarget t = ReadTreeEntry(entries, i);
        if (t.kind == EntryKind::Acquisition) Check(IsAcquisitionFolderName(t.acquisition_folder));
        const std::string date = AcquisitionFolderOfDateEntry(entries[i]);
        Check(date.empty() || IsAcquisitionFolderName(date));
        (void)EntryMatches(entries[i], words);
        (void)ReportCaption(entries[i]);
        (void)StartMinutesOfFolder(entries[i]);
    }
    return 0;
}
