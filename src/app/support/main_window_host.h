// What the parts of the main window may ask of it: the control panels, the acquisition and the
// report windows it opens get a MainWindowHost at construction and reach the main window only
// through it. Frm_Main implements it; its controls stay its own.
#pragma once

#include <QUrl>
#include <QWidget>
#include <string>

#include "app/support/app_context.h"
#include "core/acquisition/acquisition_engine.h"

namespace lumivo::app {

class MainWindowHost {
  public:
    virtual ~MainWindowHost() = default;

    // The program-wide state, the clock, the dialogs and the instrument link.
    virtual AppContext& context() = 0;
    // The main window itself: the parent of the windows it opens.
    virtual QWidget& window() = 0;
    // The main window shown, raised and activated (after a window it opened is left).
    virtual void ShowMainWindow() = 0;

    // The log panel and the status line.
    virtual void AppendLog(const std::string& line) = 0;
    virtual void ShowStatusLine(const std::string& text) = 0;
    // A document handed to the desktop's viewer.
    virtual bool OpenDocument(const QUrl& url) = 0;

    // The commands that must wait while a calibration, zero or blank runs (Setup, Offline,
    // Connect, Disconnect and Start) disabled, and given back as they were.
    virtual void LockCommands(bool locked) = 0;

    // ---- What the acquisition shows on the main window ----

    // The experiment box `txt_subproject` and the description box `Txt_description`.
    virtual void ShowExperimentName(const std::string& name) = 0;
    virtual std::string Description() = 0;
    // The body-bends choice `chk_bodybends`, where the plate allows it.
    virtual bool BodyBendsChosen() = 0;
    // `lbl_temperature`, `Txt_time` and `lbl_endtime`.
    virtual void ShowTemperature(const std::string& label) = 0;
    virtual void ShowElapsedTime(const std::string& text) = 0;
    virtual void ShowExpectedEnd(const QString& text) = 0;
    // The main window's commands a run or a blank locks (connection, port menu, setup,
    // offline, organism, signal-to-noise box, body bends).
    virtual void ShowRunCommands(const RunCommands& controls) = 0;
    // The light and temperature panels after the outputs changed.
    virtual void ShowToolState() = 0;
    // The project setup window (`Cmdsetup_Click`).
    virtual void ShowSetupWindow() = 0;

    // ---- The report side ----

    // The report bin `combo_minutes` and the mark of Report > User Defined BIN size
    // (`mn_userbin`).
    virtual std::string ReportBinText() = 0;
    virtual void SetReportBinText(const std::string& text) = 0;
    virtual bool UserDefinedReport() = 0;
    virtual void SetUserDefinedReport(bool checked) = 0;
};

}  // namespace lumivo::app
