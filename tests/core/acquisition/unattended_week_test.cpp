// Days of unattended recording in virtual time, with the in-process simulated instrument and
// faults at seeded random times: silences, the port vanishing and coming back (sometimes as a
// power-cycled instrument), bursts of short blocks, a full disk for a while, and one kill of
// the recorder followed by a resume. Whatever happens, every record must be made of readings
// the instrument really gave, every window that could not be recorded must be in events.log,
// the files must be whole and memory must not grow with the days.
//
// CI runs one day (a shorter stretch under the sanitizers). The week:
//   LUMIVO_SIM_DAYS=7 build/default/tests/test_core_acquisition --gtest_filter='Unattended*'
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "acquisition_rig.h"
#include "core/acquisition/event_log_reader.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/installation.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kSecondUs = 1'000'000;
constexpr std::int64_t kHourUs = 3600 * kSecondUs;

double SimulatedHours() {
    if (const char* days = std::getenv("LUMIVO_SIM_DAYS")) return 24.0 * std::atof(days);
#if defined(__SANITIZE_ADDRESS__)
    return 3.0;
#else
    return 24.0;
#endif
}

// Resident memory of this process in kilobytes.
long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

enum class Fault { Silence, Vanish, PowerCycle, ShortBlocks, FullDisk };

struct PlannedFault {
    std::int64_t at_us = 0;
    std::int64_t length_us = 0;
    Fault kind = Fault::Silence;
};

// A fault every 40 to 160 minutes (10 to 40 in a run of less than half a day), of a random
// kind and length.
std::vector<PlannedFault> PlanFaults(std::int64_t end_us, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const std::int64_t scale = end_us < 12 * kHourUs ? 1 : 4;
    std::uniform_int_distribution<std::int64_t> gap(scale * 10 * 60, scale * 40 * 60), kind(0, 4);
    std::vector<PlannedFault> plan;
    for (std::int64_t t = 20 * 60 * kSecondUs;;) {
        t += gap(rng) * kSecondUs;
        if (t > end_us - kHourUs) break;
        PlannedFault f;
        f.at_us = t;
        f.kind = static_cast<Fault>(kind(rng));
        const std::int64_t longest = f.kind == Fault::ShortBlocks ? 1 : 15 * 60;
        f.length_us = std::uniform_int_distribution<std::int64_t>(
                          5, std::max<std::int64_t>(longest, 5))(rng) *
                      kSecondUs;
        plan.push_back(f);
        t += f.length_us;
    }
    return plan;
}

// What one recorder (the one that dies, or the one that resumes) saw.
struct Segment {
    std::int32_t recorded = 0, not_recorded = 0, write_failures = 0, losses = 0;
    std::int64_t end_us = 0;
    std::vector<std::int64_t> closes;
};

// Records with the faults of `plan` from now until `until_us` of virtual time (or the end of
// the run). `memory` gets the resident size each simulated hour.
Segment Record(AcquisitionRig& rig, const std::vector<PlannedFault>& plan, std::int64_t until_us,
               std::vector<long>* memory) {
    sim::SimConfig cycled_config = AlternatingWells(rig.app.plate, 1.5);
    cycled_config.seed = 99;
    std::vector<std::unique_ptr<sim::Instrument>> cycled;
    sim::Instrument* plugged = &rig.instrument;  // the instrument behind the port now
    std::int64_t next_hour = (rig.clock.MonotonicMicros() / kHourUs + 1) * kHourUs;
    std::size_t next_fault = 0;
    while (next_fault < plan.size() && plan[next_fault].at_us < rig.clock.MonotonicMicros())
        ++next_fault;
    const PlannedFault* active = nullptr;  // the fault on now
    std::int64_t active_ends = 0;
    while (rig.engine.Running() && rig.clock.MonotonicMicros() < until_us) {
        const std::int64_t now = rig.clock.MonotonicMicros();
        if (active != nullptr && now >= active_ends) {
            switch (active->kind) {
                case Fault::Silence:
                    plugged->Replug();
                    break;
                case Fault::Vanish:
                    rig.socket.Plug(*plugged);
                    break;
                case Fault::PowerCycle:
                    // The instrument comes back with its registers reset.
                    cycled.push_back(std::make_unique<sim::Instrument>(cycled_config));
                    plugged = cycled.back().get();
                    rig.socket.Plug(*plugged);
                    break;
                case Fault::ShortBlocks:
                    break;
                case Fault::FullDisk:
                    rig.file_ops.fail = false;
                    break;
            }
            active = nullptr;
        }
        if (active == nullptr && next_fault < plan.size() && now >= plan[next_fault].at_us) {
            const PlannedFault& f = plan[next_fault++];
            switch (f.kind) {
                case Fault::Silence:
                    plugged->Unplug();
                    break;
                case Fault::Vanish:
                case Fault::PowerCycle:
                    rig.socket.Pull();
                    break;
                case Fault::ShortBlocks:
                    plugged->Faults().short_blocks = 200;
                    plugged->Faults().short_block_bytes = 100;
                    break;
                case Fault::FullDisk:
                    rig.file_ops.fail = true;
                    break;
            }
            active = &f;
            active_ends = now + f.length_us;
        }
        if (memory != nullptr && now >= next_hour) {
            memory->push_back(ResidentKb());
            next_hour += kHourUs;
        }
        // The program's timer: a tick at most every 30 ms.
        rig.engine.Tick();
        const std::int64_t spent = rig.clock.MonotonicMicros() - now;
        if (spent < kTimeradqIntervalMs * 1000)
            rig.clock.AdvanceMicros(kTimeradqIntervalMs * 1000 - spent);
    }
    // Whatever fault is still on ends with this recorder, and the rig's own instrument is
    // behind the port again (the power-cycled ones end here).
    rig.file_ops.fail = false;
    rig.socket.Pull();
    rig.instrument.Replug();
    rig.socket.Plug(rig.instrument);
    Segment s;
    s.recorded = rig.engine.Sampling().windows_recorded;
    s.not_recorded = rig.engine.Sampling().windows_not_recorded;
    s.write_failures = rig.engine.Sampling().window_write_failures;
    s.losses = rig.engine.Sampling().recovery.losses;
    s.end_us = rig.clock.MonotonicMicros();
    s.closes = rig.view.window_close_us;
    return s;
}

TEST(UnattendedWeek, EveryRecordIsRealEveryLossIsLoggedAndTheFilesStayWhole) {
    const auto began = std::chrono::steady_clock::now();
    const double hours = SimulatedHours();
    const auto run_us = static_cast<std::int64_t>(hours * static_cast<double>(kHourUs));
    AcquisitionRig rig;
    ASSERT_TRUE(EnsureInstallation(rig.files, rig.temp.path()).ok());
    rig.app.project.Setup.Aq_lapse = static_cast<std::int16_t>(hours * 60.0);
    // Raw pages would be a gigabyte a day here; their continuity has tests of its own.
    rig.app.project.Setup.Save_real = 0;
    const std::vector<PlannedFault> plan = PlanFaults(run_us, 2026);
    // The recorder is killed once, a third into the run, and resumed 20 minutes later.
    const std::int64_t kill_at = run_us / 3;
    const std::int64_t resume_after = 20 * 60 * kSecondUs;

    const fs::path result = rig.temp.path() / "first.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        if (rig.Start("a week") != StartOutcome::Started) _exit(3);
        const Segment s = Record(rig, plan, kill_at, nullptr);
        std::ofstream out(result);
        out << s.recorded << " " << s.not_recorded << " " << s.write_failures << " " << s.losses
            << " " << s.end_us << " " << s.closes.size();
        for (std::int64_t c : s.closes) out << " " << c;
        out.close();
        kill(getpid(), SIGKILL);
        _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    Segment first;
    {
        std::ifstream in(result);
        std::size_t n = 0;
        in >> first.recorded >> first.not_recorded >> first.write_failures >> first.losses >>
            first.end_us >> n;
        first.closes.resize(n);
        for (std::int64_t& c : first.closes) in >> c;
        ASSERT_TRUE(in) << "the first recorder's figures";
    }
    const fs::path folder = rig.app.project.ProjectFolder / AcquisitionFolderName(rig.clock.Now());

    rig.clock.AdvanceMicros(first.end_us + resume_after - rig.clock.MonotonicMicros());
    ASSERT_EQ(rig.engine.ResumeAcquisition(folder), StartOutcome::Started)
        << (rig.dialogs.Messages().empty() ? "" : rig.dialogs.Messages().back());
    std::vector<long> memory;
    const Segment second = Record(rig, plan, run_us + 2 * kHourUs, &memory);
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_TRUE(rig.engine.State().finished_at_lapse);

    // The files are whole.
    const CountsFileContents counts = ReadCountsFile(folder / kCountsFileName);
    EXPECT_EQ(counts.ignored_tail_bytes, 0u);
    ASSERT_EQ(counts.records.size(), static_cast<std::size_t>(second.recorded));
    // Every window that closed with readings was recorded or, on the full disk, failed to be.
    EXPECT_EQ(second.recorded - first.recorded + second.write_failures - first.write_failures,
              static_cast<std::int32_t>(second.closes.size()));

    // Every record is made of real readings: the busy wells' beams counted animals in every
    // one (a window of held readings would count next to nothing), the minutes never go back,
    // and no window closed while the instrument could not be read.
    const auto busy = [&] {
        std::vector<std::size_t> out;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            if (rig.app.plate.ChannelWell[c] >= 0 && rig.app.plate.ChannelWell[c] % 2 == 1)
                out.push_back(c);
        return out;
    }();
    std::int32_t previous = -1;
    for (const CountsRecord& r : counts.records) {
        long long sum = 0;
        for (std::size_t c : busy) sum += r.values[c];
        ASSERT_GT(sum, 300) << "minute " << r.elapsed_minutes;
        ASSERT_GE(r.elapsed_minutes, previous);
        previous = r.elapsed_minutes;
    }
    // Each recorder met the faults planned while it ran; those due while none ran never
    // happened.
    const std::int64_t resumed_at = first.end_us + resume_after;
    std::size_t faults_met = 0, faults_that_stop_readings = 0;
    for (const PlannedFault& f : plan) {
        const bool by_first = f.at_us < first.end_us;
        if (!by_first && f.at_us < resumed_at) continue;
        ++faults_met;
        if (f.kind != Fault::Silence && f.kind != Fault::Vanish && f.kind != Fault::PowerCycle)
            continue;
        ++faults_that_stop_readings;
        for (std::int64_t t : by_first ? first.closes : second.closes) {
            // A window with up to 2 % of its time held may close a second into a silence.
            ASSERT_FALSE(t > f.at_us + 5 * kSecondUs && t < f.at_us + f.length_us)
                << "a window closed at " << t / kSecondUs << " s, inside a fault of kind "
                << static_cast<int>(f.kind) << " from " << f.at_us / kSecondUs << " s for "
                << f.length_us / kSecondUs << " s";
        }
    }
    for (std::int64_t t : second.closes) ASSERT_GT(t, resumed_at);

    // Every window that could not be recorded is in events.log, and the dead time too.
    const RunLog log = ParseRunLog(ReadFile(folder / kEventLogFileName));
    // The resumed recorder's counters go on from what the dead one logged.
    EXPECT_EQ(log.windows_not_recorded, second.not_recorded);
    EXPECT_EQ(static_cast<std::int64_t>(log.write_failures), second.write_failures);
    EXPECT_EQ(static_cast<std::int32_t>(log.instrument_lost.size()), second.losses);
    ASSERT_EQ(log.interruptions.size(), 1u);
    EXPECT_GE(log.interruptions[0].end - log.interruptions[0].begin, resume_after / kSecondUs);
    EXPECT_TRUE(log.end);
    // Recorded, not recorded, not written and the dead time account for the whole run.
    const double window_s = static_cast<double>(rig.engine.Sampling().last_window_us) / 1e6;
    const double accounted =
        window_s * static_cast<double>(static_cast<std::int64_t>(counts.records.size()) +
                                       log.windows_not_recorded +
                                       static_cast<std::int64_t>(log.write_failures)) +
        static_cast<double>(log.interruptions[0].end - log.interruptions[0].begin);
    EXPECT_NEAR(accounted / (hours * 3600.0), 1.0, 0.05);

    // Memory does not grow with the hours.
    ASSERT_GE(memory.size(), 2u);
    const long settled = memory[std::min<std::size_t>(1, memory.size() - 1)];
    const long peak = *std::max_element(memory.begin(), memory.end());
    EXPECT_LT(peak - settled, 16 * 1024) << "kB";

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf(
        "simulated %.1f h: %zu windows recorded, %d not recorded, %d not written; %zu faults "
        "(%zu stopping the readings), %zu losses of the instrument, 1 kill; resident memory "
        "%ld kB after an hour, %ld kB at most; %.1f s\n",
        hours, counts.records.size(), second.not_recorded, second.write_failures, faults_met,
        faults_that_stop_readings, log.instrument_lost.size(), settled, peak, seconds);
}

}  // namespace
}  // namespace lumivo::testing
