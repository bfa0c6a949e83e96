// The program-wide state of one running program: configuration, current project with its plate
// map, report settings and the connection flags, plus the start-up bookkeeping. Created once by
// the program (or by a test) and passed by reference; the device link lives beside it because
// it owns the clock, the dialogs and the ports.
#pragma once

#include <cstdint>

#include "core/device/connection.h"
#include "core/storage/config_file.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/report_config.h"

namespace lumivo {

struct AppState {
    GlobalConfig config;
    ProjectState project;
    PlateMap plate;
    ReportSettings report;
    ConnectionState connection;

    // Number of the start-up step reached, quoted by the start-up error message.
    std::int16_t InitStage = 0;
    // The command line asked to run the latest project at once.
    bool AutorunRequested = false;
    // config.dat was missing at this start and was written anew from the shipped default: the
    // start-up tells the user, as it does for a missing file.
    bool config_restored = false;
};

}  // namespace lumivo
