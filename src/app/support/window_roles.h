// The small roles through which a window or a part reaches the window that made it (the main
// window): each takes only the roles it uses. Frm_Main implements them; its controls stay its
// own.
#pragma once

#include <QUrl>
#include <QWidget>
#include <concepts>
#include <string>

#include "app/support/app_context.h"

namespace lumivo::app {

// The log panel and the status line.
class LogPanel {
  public:
    virtual ~LogPanel() = default;
    virtual void AppendLog(const std::string& line) = 0;
    virtual void ShowStatusLine(const std::string& text) = 0;
};

// The commands that must wait while a calibration, zero, blank or device test runs (Setup,
// Offline, Connect, Disconnect and Start) disabled, and given back as they were.
class CommandLock {
  public:
    virtual ~CommandLock() = default;
    virtual void LockCommands(bool locked) = 0;
};

// The report bin `combo_minutes` and the mark of Report > User Defined BIN size (`mn_userbin`).
class ReportBinChoice {
  public:
    virtual ~ReportBinChoice() = default;
    virtual std::string ReportBinText() = 0;
    virtual void SetReportBinText(const std::string& text) = 0;
    virtual bool UserDefinedReport() = 0;
    virtual void SetUserDefinedReport(bool checked) = 0;
};

// The window the others are opened from and return to.
class ParentWindow {
  public:
    virtual ~ParentWindow() = default;
    // The parent of the windows it opens.
    virtual QWidget& window() = 0;
    // Shown, raised and activated (after a window it opened is left).
    virtual void ShowMainWindow() = 0;
    // A document handed to the desktop's viewer; false when none took it.
    virtual bool OpenDocument(const QUrl& url) = 0;
};

// What the report side asks of the window that opens the report windows: the state, the window
// itself (their parent, and where they return to), the report-bin choice and the status line.
struct ReportOpener {
    ReportOpener(AppContext& ctx_ref, ParentWindow& parent_ref, ReportBinChoice& bins_ref,
                 LogPanel& log_ref)
        : ctx(ctx_ref), parent(parent_ref), bins(bins_ref), log(log_ref) {}
    // From a window that plays the three roles and holds the state (the main window).
    template <typename Host>
    requires std::derived_from<Host, ParentWindow> && std::derived_from<Host, ReportBinChoice> &&
        std::derived_from<Host, LogPanel>
        ReportOpener(Host& host)  // NOLINT(google-explicit-constructor): a window is an opener
        : ReportOpener(host.context(), host, host, host) {}

    AppContext& ctx;
    ParentWindow& parent;
    ReportBinChoice& bins;
    LogPanel& log;
};

}  // namespace lumivo::app
