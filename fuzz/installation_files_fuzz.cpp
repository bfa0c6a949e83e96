// Fuzzes the loaders of the installation folder's own files: config.dat, repoconf.dat,
// calvalue.dat and an acquisition's subproj.dat, all fed the same bytes. Every value must come
// out within its range.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/storage/acquisition_register.h"
#include "core/storage/calibration_file.h"
#include "core/storage/config_file.h"
#include "core/storage/report_config.h"

using namespace lumivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    MemoryFileSystem files;
    files.CreateFolders("/inst/acq");
    for (const char* name : {"config.dat", "repoconf.dat", "calvalue.dat", "acq/subproj.dat"})
        files.WriteFile(std::string("/inst/") + name, input);
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{"/inst", dialogs, files, [] { return std::string(","); }};

    GlobalConfig config;
    LoadConfig(ctx, config);
    if (config.ComPortNumber < kMinComPort || config.ComPortNumber > kMaxComPort) __builtin_trap();
    if (config.Actual_Project_Number < 0 || config.Last_Project < config.Actual_Project_Number)
        __builtin_trap();

    ReportSettings report;
    const auto user_defined = LoadReportConfig(ctx, report, 1);
    if (user_defined != 0 && user_defined != 1) __builtin_trap();
    const ReportConfig& r = report.config;
    if (r.Bin < 2 || r.Bin > 1440 || r.threshold < 11 || r.threshold > 30 || r.method < 0 ||
        r.method > 2 || r.out_format < 0 || r.out_format > 3)
        __builtin_trap();

    CalibrationValues cal;
    try {
        LoadCalibration(ctx, cal);
    } catch (const StorageError&) {
    }
    for (std::size_t i = 0; i < cal.PinHole.size(); ++i)
        if (cal.PinHole[i] < 0 || cal.PinHole[i] > kMaxPinHole || cal.Gain[i] < 0 ||
            cal.Gain[i] > kMaxGain)
            __builtin_trap();

    (void)ReadAcquisitionTitle(ctx, "/inst/acq");
    const std::string renamed = RenameAcquisition(ctx, "/inst/acq", "New, \"name\"");
    if (!renamed.empty() && ReadAcquisitionTitle(ctx, "/inst/acq") != renamed) __builtin_trap();
    return 0;
}
