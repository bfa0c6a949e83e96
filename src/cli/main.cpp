// lumivo-cli: the headless face of the program. Every subcommand runs the same core code as
// the desktop program. Errors go to stderr with a non-zero exit status.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/platform/install_dir.h"
#include "core/storage/installation.h"

namespace lumivo::cli {

// Subcommand entry points, defined in the cmd_*.cpp files.
// (declarations of further commands go here)
int RunAnalyze(Args& args);          // cmd_analysis.cpp
int RunDump(Args& args);             // cmd_analysis.cpp
int RunPlate(Args& args);            // cmd_storage.cpp
int RunProject(Args& args);          // cmd_storage.cpp
int RunProjectCommand(Args& args);   // cmd_project.cpp (show goes on to RunProject)
int RunSample(Args& args);           // cmd_device.cpp
int RunSerial(Args& args);           // cmd_device.cpp
int RunCalibrate(Args& args);        // cmd_control.cpp
int RunZero(Args& args);             // cmd_control.cpp
int RunReport(Args& args);           // cmd_report.cpp
int RunAcquire(Args& args);          // cmd_acquire.cpp
int RunAcquisition(Args& args);      // cmd_offline.cpp
int RunAcquisitions(Args& args);     // cmd_offline.cpp
int RunJoin(Args& args);             // cmd_offline.cpp
int RunReanalyze(Args& args);        // cmd_reanalyze.cpp
int RunExport(Args& args);           // cmd_export.cpp
int RunSelfTest(Args& args);         // cmd_selftest.cpp
int RunSensorCalibrate(Args& args);  // cmd_factory.cpp
int RunFactory(Args& args);          // cmd_factory.cpp
int RunNotify(Args& args);           // cmd_notify.cpp
int RunPlot(Args& args);             // cmd_plot.cpp
int RunWells(Args& args);            // cmd_compare.cpp
int RunStats(Args& args);            // cmd_compare.cpp
int RunDose(Args& args);             // cmd_compare.cpp

namespace {

const Command kCommands[] = {
    // {name, usage, summary, run}, one per subcommand, in the order "help" lists them.
    {"acquire",
     "(--com N | --simulate) (--project N --name NAME [--lapse MIN] [--description TEXT] "
     "[--body-bends] | --resume ACQ_FOLDER|latest) [--no-calibration] [--tick-ms MS] [--yes]",
     "Records an acquisition of project N until its lapse or SIGINT/SIGTERM, or (--resume) "
     "goes on with an interrupted one in its folder until its original lapse; prints the "
     "acquisition folder and the quick report.",
     RunAcquire},
    {"acquisition", "show ACQ | rename ACQ NAME | archive ACQ [--yes]",
     "Shows an acquisition's summary, renames it, or archives its folder (ACQ: the folder, or "
     "PROJECT/yyyymmdd_hhmm).",
     RunAcquisition},
    {"acquisitions", "[--project N] [--by-date] [--filter WORDS]",
     "Lists the projects and their acquisitions as the offline browser shows them, one entry a "
     "line (--by-date: the date view of project N).",
     RunAcquisitions},
    {"analyze", "PAGE.bin --method M --snr X [--rt-buffer N]",
     "Analyses the windows of a raw page again; one line of 384 counts per window.", RunAnalyze},
    {"calibrate", "--com N [--all]",
     "Calibrates the beams of the current project (--all: every beam) into the target window "
     "and saves calvalue.dat.",
     RunCalibrate},
    {"dump", "counts.bin", "Prints the records of a counts file, one line per window.", RunDump},
    {"dose",
     "ACQ... --from H --to H [--by treatment] [--normalise none|control] [--model ll4|ll3] "
     "[--over-time] [--measure mean|total|percent-basal|paralysis] [--after-pause N] "
     "[--basal-acquisition ACQ] "
     "[--basal-from H --basal-to H] [--paralysis-percent P] [--bin MIN] [--dead-hours H] "
     "[--keep-dead]",
     "Fits a log-logistic dose-response curve per treatment of the plate map (EC50 with its "
     "95 % CI, once or per bin with --over-time) over one or several plates, writes dose.csv "
     "and dose.svg into the first acquisition folder and prints their paths.",
     RunDose},
    {"export",
     "ACQ_FOLDER (--per channel|well [--time] | --tidy [--per channel|well] [--dead-hours H]) "
     "[--bin MIN]",
     "Exports the binned activity of an acquisition: one text file per channel (--time: with "
     "the bin times) or per well, or (--tidy) activity.csv and metadata.csv for R and Python; "
     "prints the folder or activity.csv.",
     RunExport},
    {"factory", "calibrate --com N --target PERCENT [--yes] | curve --com N [--yes]",
     "The factory station: calibrates every channel into the window around PERCENT of 2048 "
     "and reads the settings back into calvalue.dat, or records the gain curve of every "
     "channel into test_bk.txt, test_mean.txt and test_desv.txt; prints the files written.",
     RunFactory},
    {"join", "ACQ ACQ [ACQ...] [--yes]",
     "Joins acquisitions of one project, in order of start time, into a new acquisition and "
     "prints its folder.",
     RunJoin},
    {"plate", "[--fallback] FORMAT", "Prints the channel, well and beam map of a plate format.",
     RunPlate},
    {"notify",
     "[--test] [--save] [--notify-command CMD] [--notify-mail ADDR --smtp HOST:PORT "
     "[--smtp-user U --smtp-password P] [--starttls on|off] [--mail-from ADDR]] "
     "[--lost-minutes N]",
     "Shows the notification settings of notify.dat with the options' changes, saves them "
     "(--save) and sends a test message (--test: status 1 when it did not arrive).",
     RunNotify},
    {"plot",
     "ACQ --kind actogram|periodogram|profile|sleep|cosinor|indices|onsets [--group G|--well W] "
     "[--bin MIN] [--double] [--period H|peak] [--method chi-square|lomb-scargle|autocorrelation] "
     "[--period-range 16,32] [--peak max-power|above-line] [--smooth H] "
     "[--sleep-rule worm|zebrafish|custom] [--bout-min N] [--dead-hours H] [--keep-dead]",
     "Writes a circadian or sleep view of an acquisition (actogram, periodogram, activity "
     "profile, inactivity bouts by the organism's sleep rule, cosinor, rest-activity indices, "
     "or onsets and offsets on the actogram, with the run's light phases) into its folder as an "
     "SVG and a CSV table, and prints their paths.",
     RunPlot},
    {"project",
     "show N | new NAME [--from N] [--plate F] [--lapse MIN] [--rt-buffer N] [--aq-mode M] "
     "[--method M] [--sample-rate N] [--dsp-interval N] [--overwrite] | rename N NAME | "
     "groups N [--clear] [--assign G=A1:C4]... [--free WELLS]... [--name G=NAME]... | "
     "arrange N RRxCC",
     "Shows, creates, renames and groups projects.", RunProjectCommand},
    {"reanalyze",
     "ACQ_FOLDER --method M --snr X [--lapse-hours H] [--bin MIN] [--replace] [--export-raw]",
     "Analyses the recorded raw pages of an acquisition again (--replace: the new counts go "
     "into counts.bin, the recorded file stays as counts.bak; --export-raw: event strings "
     "chN.raw), writes the report and prints its path. SIGINT stops it, changing nothing.",
     RunReanalyze},
    {"report",
     "ACQ_FOLDER [--bin MIN] [--layout rows|list|warray|charray|histogram] [--format csv|txt] "
     "[--sep S] [--stats se,sd,n] [--basal ACQ_FOLDER --basal-minutes M "
     "--zero-basal max|average|discard]",
     "Writes the report of an acquisition (and its chart report.svg) and prints its path.",
     RunReport},
    {"sample", "--com N", "Reads one sample of the 384 channels from the instrument.", RunSample},
    {"selftest", "--com N [--yes]",
     "Runs the device self-test with an empty slot, prints its verdict lines and the report "
     "path; exit status 0 when every verdict passes, 1 when one fails, 3 when it could not "
     "run.",
     RunSelfTest},
    {"sensor-calibrate", "--com N --reference CELSIUS [--yes]",
     "Calibrates the temperature sensor at one point (the true temperature now) and prints "
     "the new offset and slope.",
     RunSensorCalibrate},
    {"serial", "--com N",
     "Reads the instrument's serial number and temperature-sensor calibration.", RunSerial},
    {"stats",
     "ACQ... --from H --to H [--measure mean|total|percent-basal|paralysis] [--control NAME] "
     "[--test welch|mann-whitney|anova|welch-anova|kruskal] [--adjust holm|bh|none] [--per-bin] "
     "[--by dose|treatment|group] [--after-pause N] [--basal-acquisition ACQ] "
     "[--basal-from H --basal-to H] "
     "[--paralysis-percent P] [--bin MIN] [--dead-hours H] [--keep-dead]",
     "Compares the groups of one or several plates (each against the control, or all at once) "
     "over an interval or per bin, with adjusted p-values, effect sizes and the plates' Z', "
     "writes stats.csv and stats.svg into the first acquisition folder and prints their paths.",
     RunStats},
    {"wells", "PROJECT|ACQ (--import FILE.csv | --export FILE.csv)",
     "Imports the plate map of what is in each well (treatment, concentration, unit, role and "
     "the lab's own columns) from a CSV file into wells.csv, or exports it.",
     RunWells},
    {"zero", "--com N [--snr X] [--quick]",
     "Computes the zero levels of the beams (auto-zero) and prints them.", RunZero},
    {"help", "", "Shows this text.", nullptr},
};

// The text of "lumivo-cli --help", laid out so that help2man makes a readable manual page of
// it: one paragraph per command.
void PrintUsage(std::ostream& out) {
    out << "usage: lumivo-cli [--install DIR] COMMAND [ARGS]\n\n"
           "Runs the jobs of the Lumivo activity monitor's program without windows.\n\n"
           "Commands:\n";
    for (const auto& c : kCommands) {
        out << "  " << c.name << (*c.usage ? " " : "") << c.usage << "\n      " << c.summary
            << "\n\n";
    }
    out << "Options:\n"
           "  --install DIR\n"
           "      The installation folder (default ~/.local/share/lumivo).\n\n"
           "  --help\n"
           "      Shows this text; \"lumivo-cli COMMAND --help\" shows one command's usage.\n\n"
           "  --version\n"
           "      Shows the version.\n\n"
           "Exit status: 0 done, 1 failed, 2 usage error, 3 could not run (no instrument).\n";
}

// The status of a command once its output is out: a command whose output could not be written
// (a full disk, `> /dev/full`, a closed pipe) has not done its job, whatever it returned.
int WithOutputWritten(const std::string& command, int status) {
    errno = 0;
    std::cout.flush();
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout;
    if (!failed) return status;
    const int err = errno;
    std::cerr << "lumivo-cli" << (command.empty() ? "" : " " + command)
              << ": the output could not be written"
              << (err != 0 ? std::string(" (") + std::strerror(err) + ")" : std::string()) << "\n";
    return status == 0 ? 1 : status;
}

}  // namespace
}  // namespace lumivo::cli

int main(int argc, char** argv) {
    using namespace lumivo::cli;
    std::vector<std::string> words(argv + 1, argv + argc);
    const auto install = lumivo::TakeInstallDirOption(words);
    // The help, the version and usage errors only print: the installation folder is made and
    // filled only when a command is about to run.
    if (!words.empty() && words.front() == "--version") {
        std::cout << "lumivo-cli " << LUMIVO_VERSION << "\n";
        return WithOutputWritten("", 0);
    }
    if (words.empty() || words.front() == "help" || words.front() == "--help" ||
        words.front() == "-h") {
        PrintUsage(words.empty() ? std::cerr : std::cout);
        return WithOutputWritten("", words.empty() ? 2 : 0);
    }
    const std::string name = words.front();
    words.erase(words.begin());
    for (const auto& c : kCommands) {
        if (name != c.name || c.run == nullptr) continue;
        if (std::find(words.begin(), words.end(), "--help") != words.end()) {
            std::cout << "usage: lumivo-cli [--install DIR] " << c.name << " " << c.usage << "\n";
            return WithOutputWritten(c.name, 0);
        }
        {
            // A fresh installation folder is filled with the shipped defaults on first use.
            lumivo::LocalFileSystem files;
            const auto ready =
                lumivo::EnsureInstallation(files, install, lumivo::InstalledDataDir());
            if (!ready.ok()) std::cerr << "lumivo-cli: " << ready.error << "\n";
        }
        Args args(install, std::move(words));
        try {
            return WithOutputWritten(c.name, c.run(args));
        } catch (const UsageError& e) {
            std::cerr << "lumivo-cli " << c.name << ": " << e.what() << "\nusage: lumivo-cli "
                      << c.name << " " << c.usage << "\n";
            return 2;
        } catch (const std::exception& e) {
            std::cerr << "lumivo-cli " << c.name << ": " << e.what() << "\n";
            return 1;
        }
    }
    std::cerr << "lumivo-cli: unknown command \"" << name << "\"\n";
    PrintUsage(std::cerr);
    return 2;
}
