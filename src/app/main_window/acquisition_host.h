// What the acquisition shows on the main window. Only the main window's parts use it; Frm_Main
// implements it.
#pragma once

#include <QString>
#include <string>

#include "app/support/app_context.h"
#include "app/support/window_roles.h"
#include "core/acquisition/acquisition_engine.h"

namespace lumivo::app {

// `lbl_temperature` (the acquisition and the device test write it).
class TemperatureDisplay {
  public:
    virtual ~TemperatureDisplay() = default;
    virtual void ShowTemperature(const std::string& label) = 0;
};

// The main window's controls a recording reads and writes.
class AcquisitionDisplay : public TemperatureDisplay {
  public:
    // The experiment box `txt_subproject` and the description box `Txt_description`.
    virtual void ShowExperimentName(const std::string& name) = 0;
    virtual std::string Description() = 0;
    // The body-bends choice `chk_bodybends`, where the plate allows it.
    virtual bool BodyBendsChosen() = 0;
    // `Txt_time` and `lbl_endtime`.
    virtual void ShowElapsedTime(const std::string& text) = 0;
    virtual void ShowExpectedEnd(const QString& text) = 0;
    // The main window's commands a run or a blank locks (connection, port menu, setup,
    // offline, organism, signal-to-noise box, body bends).
    virtual void ShowRunCommands(const RunCommands& commands) = 0;
    // The light and temperature panels after the outputs changed.
    virtual void ShowToolState() = 0;
    // The project setup window (`Cmdsetup_Click`).
    virtual void ShowSetupWindow() = 0;
};

}  // namespace lumivo::app
