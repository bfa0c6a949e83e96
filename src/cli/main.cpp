// lumivo-cli: the headless face of the program. Every subcommand runs the same core code as
// the desktop program. Errors go to stderr with a non-zero exit status.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/install_dir.h"
#include "core/storage/installation.h"

namespace lumivo::cli {

// Subcommand entry points, defined in the cmd_*.cpp files.
// (declarations of further commands go here)
int RunAnalyze(Args& args);  // cmd_analysis.cpp
int RunDump(Args& args);     // cmd_analysis.cpp
int RunPlate(Args& args);    // cmd_storage.cpp
int RunProject(Args& args);  // cmd_storage.cpp
int RunProjectCommand(Args& args);  // cmd_project.cpp (show goes on to RunProject)
int RunSample(Args& args);   // cmd_device.cpp
int RunSerial(Args& args);   // cmd_device.cpp
int RunCalibrate(Args& args);  // cmd_control.cpp
int RunZero(Args& args);       // cmd_control.cpp
int RunReport(Args& args);     // cmd_report.cpp
int RunAcquire(Args& args);    // cmd_acquire.cpp

namespace {

const Command kCommands[] = {
    // {name, usage, run} entries go here, one per subcommand.
    {"analyze", "PAGE.bin --method M --snr X [--rt-buffer N]", RunAnalyze},
    {"dump", "counts.bin", RunDump},
    {"plate", "[--fallback] FORMAT", RunPlate},
    {"project",
     "show N | new NAME [--from N] [--plate F] [--lapse MIN] [--rt-buffer N] [--aq-mode M] "
     "[--method M] [--sample-rate N] [--dsp-interval N] [--overwrite] | rename N NAME | "
     "groups N [--clear] [--assign G=A1:C4]... [--free WELLS]... [--name G=NAME]... | "
     "arrange N RRxCC",
     RunProjectCommand},
    {"sample", "--com N", RunSample},
    {"serial", "--com N", RunSerial},
    {"calibrate", "--com N [--all]", RunCalibrate},
    {"zero", "--com N [--snr X] [--quick]", RunZero},
    {"report",
     "ACQ_FOLDER [--bin MIN] [--layout rows|list|warray|charray|histogram] [--format csv|txt] "
     "[--sep S] [--stats se,sd,n] [--basal ACQ_FOLDER --basal-minutes M "
     "--zero-basal max|average|discard]",
     RunReport},
    {"acquire",
     "(--com N | --simulate) --project N --name NAME [--lapse MIN] [--description TEXT] "
     "[--body-bends] [--no-calibration] [--tick-ms MS] [--yes]",
     RunAcquire},
    {"help", "", nullptr},
};

void PrintUsage(std::ostream& out) {
    out << "usage: lumivo-cli [--install DIR] COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& c : kCommands) out << "  " << c.name << (*c.usage ? " " : "") << c.usage << "\n";
    out << "\nThe installation folder defaults to ~/.local/share/lumivo.\n"
           "\"lumivo-cli COMMAND --help\" shows one command's usage; \"lumivo-cli --version\" the\n"
           "version. Exit status: 0 done, 1 failed, 2 usage error.\n";
}

}  // namespace
}  // namespace lumivo::cli

int main(int argc, char** argv) {
    using namespace lumivo::cli;
    std::vector<std::string> words(argv + 1, argv + argc);
    const auto install = lumivo::TakeInstallDirOption(words);
    {
        // A fresh installation folder is filled with the shipped defaults on first use.
        lumivo::LocalFileSystem files;
        const auto ready = lumivo::EnsureInstallation(files, install);
        if (!ready.ok()) std::cerr << "lumivo-cli: " << ready.error << "\n";
    }
    if (!words.empty() && words.front() == "--version") {
        std::cout << "lumivo-cli " << LUMIVO_VERSION << "\n";
        return 0;
    }
    if (words.empty() || words.front() == "help" || words.front() == "--help" || words.front() == "-h") {
        PrintUsage(words.empty() ? std::cerr : std::cout);
        return words.empty() ? 2 : 0;
    }
    const std::string name = words.front();
    words.erase(words.begin());
    for (const auto& c : kCommands) {
        if (name != c.name || c.run == nullptr) continue;
        if (std::find(words.begin(), words.end(), "--help") != words.end()) {
            std::cout << "usage: lumivo-cli [--install DIR] " << c.name << " " << c.usage << "\n";
            return 0;
        }
        Args args(install, std::move(words));
        try {
            return c.run(args);
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
