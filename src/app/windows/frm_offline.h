// The offline browser `Frm_offline` ("Analyze recorded experiments"): recorded acquisitions
// found, opened, reported, regrouped, re-analysed and joined without an instrument.
//
// Left, the list `Listpj` as a project tree or as the date view of one project, with its sort
// (`lbl_date`, `lbl_orden`), filter (`txt_search`, `cmd_lupa`, `lblback`), the list commands
// (`lst_rename`, `lst_delete`, `lst_explorefind`, `lst_plateconfig`, in its context menu and the
// "List" menu) and `Cmd_join`. Right, the commands on the chosen acquisition (`Cmd_report`,
// `Cmd_leegroups`, `cmdchannels`, the group editor, `Cmd_analyze` with `cmb_modeanalisis` and
// `frmtxt_threshold`), the status strip `Pic_status` and the view area `Picreal`: the summary,
// the group activity chart, the plate layout, the channel-signal page and the group editor
// `Framegrup`. "File" holds the exports `asciiexporta` and `bmpexporta`, "Watching Folders" the
// items `txtfolder` (0..4).
//
// The handlers only pass the user's choices to the core (offline/acquisition_browser.h and its
// neighbours, reporting/report/raw_reanalysis.h) and show what comes back.
#pragma once

#include <QAction>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "app/panels/offline_group_editor.h"
#include "app/panels/status_strip.h"
#include "app/plots/plate_view.h"
#include "app/plots/signal_plot.h"
#include "app/support/window_roles.h"
#include "core/offline/acquisition_browser.h"
#include "core/offline/group_activity.h"
#include "core/offline/recorded_signal_source.h"
#include "core/reporting/report/raw_reanalysis.h"

namespace lumivo::app {

// What the view area `Picreal` shows.
enum class OfflineView { Summary, GroupActivity, PlateLayout, ChannelSignal, GroupEditor };

// Where "Export to ASCII..." and "Export to BMP..." write, in the installation folder.
inline constexpr const char* kAsciiExportFile = "datafile.txt";
inline constexpr const char* kBmpExportFile = "image1.bmp";

class Frm_offline : public QWidget, private reporting::RawRunView {
    Q_OBJECT
  public:
    explicit Frm_offline(ReportOpener host, QWidget* parent = nullptr);

    // The window load: sort descending, filter off, every project closed, the watched folders
    // from foldview.dat, "Mode:0" and "0.0".
    void Form_Load();

    // Called when the window is closed (the caller shows itself again).
    std::function<void()> ReturnToCaller;

    // Handlers.
    void lbl_date_Click();
    void cmd_lupa_Click();
    void lblback_Click();
    void Listpj_DblClick();
    void Cmd_join_Click();
    void lst_rename_Click();
    void lst_delete_Click();
    void lst_explorefind_Click();
    void lst_plateconfig_Click();
    void txtfolder_Click(int index);
    void Cmd_report_Click();
    void Cmd_leegroups_Click();
    void cmb_groupbin_Click();
    void cmd_editgroups_Click();
    // The channel-signal pages: `cmdchannels` shows them; `scrollpage` chooses the raw page,
    // `txt_channel` the channel, `cmd_zoomin`/`cmd_zoomout` the readings across the plot (the
    // mouse wheel over the plot scrolls, Ctrl + wheel zooms) and `chk_zoomy` fits the y axis.
    void cmdchannels_Click();
    void scrollpage_Change();
    void txt_channel_Change();
    void cmd_zoomin_Click();
    void cmd_zoomout_Click();
    void Cmd_analyze_Click();
    void cmd_stopanalysis_Click();
    void asciiexporta_Click();
    void bmpexporta_Click();

    OfflineView view() const;
    const offline::BrowserState& state() const { return state_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // RawRunView: the progress of Cmd_analyze.
    void ShowStatus(const std::string& text) override;
    void ShowBinSize(const std::string& text) override;
    bool StopRequested() override;

    void BuildControls();
    void BuildMenus();
    // `Listpj` from the browser's entries, with `selection` selected; the sort mark, the view's
    // title and the commands that follow the choice.
    void ShowList(std::optional<std::size_t> selection = std::nullopt);
    void ShowControls();
    // The entry the list commands act on: the current row, if any.
    std::optional<std::size_t> CurrentEntry() const;
    // The chosen acquisition shown: summary, status strip, raw pages; nullopt clears them.
    void ShowAcquisition(std::optional<offline::OpenedAcquisition> opened);
    // Reads the chosen acquisition again (after its groups or counts changed).
    void ReloadAcquisition();
    void ShowView(OfflineView view);
    // Writes `content` into the installation folder's `name` and opens it with the desktop's
    // default application.
    void WriteAndOpen(const char* name, std::string content);
    // While Cmd_analyze runs, everything but STOP waits; while the group editor is open, the
    // list and the other commands wait for "EXIT Group Edition".
    void SetBusy(bool analysing, bool editing);
    // The report side's environment: the report opened with the desktop's application.
    reporting::ReportEnvironment Environment();
    // The signal plot on raw page `page` (1-based) of the chosen acquisition.
    void ShowSignalPage(int page);
    // `Txtpage` and `scrollpage` after the plot moved (a page, or the mouse wheel).
    void ShowPageOfPlot();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The entry of the chosen acquisition in the list, if it is listed.
    std::optional<std::size_t> ChosenEntry() const;

    ReportOpener host_;
    AppContext& ctx_;
    offline::BrowserState state_;
    std::optional<offline::OpenedAcquisition> opened_;
    std::optional<offline::GroupActivity> activity_;
    // The recorded raw pages of the chosen acquisition (null when it saved none); windows are
    // read when the plot shows them.
    std::unique_ptr<offline::RecordedSignalSource> signal_;
    // The plate layout `lst_plateconfig` shows (read-only).
    offline::AcquisitionGroupEditor plate_config_;
    bool analysing_ = false;
    bool stop_requested_ = false;

    // The list side.
    QLabel* lbl_view;
    QPushButton* lbl_date;
    QLabel* lbl_orden;
    QLineEdit* txt_search;
    QPushButton* cmd_lupa;
    QPushButton* lblback;
    QListWidget* Listpj;
    QPushButton* Cmd_join;
    QMenu* mnlist;  // the context menu of Listpj
    QAction* lst_rename;
    QAction* lst_delete;
    QAction* lst_explorefind;
    QAction* lst_plateconfig;
    std::array<QAction*, offline::kWatchedFolderCount> txtfolder{};
    QAction* asciiexporta;
    QAction* bmpexporta;

    // The acquisition side.
    QWidget* frm_commands;
    QPushButton* Cmd_report;
    QPushButton* Cmd_leegroups;
    QPushButton* cmdchannels;
    QPushButton* cmd_editgroups;
    QComboBox* cmb_modeanalisis;
    QLineEdit* frmtxt_threshold;
    QPushButton* Cmd_analyze;
    QPushButton* cmd_stopanalysis;
    QLabel* lbl_analysis;
    StatusStrip* Pic_status;
    QLabel* lbl_status;  // the status line under the window
    QStackedWidget* Picreal;
    QPlainTextEdit* txt_summary;
    QChartView* Picgroups;
    QComboBox* cmb_groupbin;
    QLabel* lbl_plateconfig;
    PlateView* Picplate;
    // The channel-signal pages of the recorded raw data: the plot of the main window's live
    // view on the recorded source, the channel and zoom controls, the page chooser `scrollpage`
    // with its box `Txtpage`.
    QWidget* frm_channelsignal;
    SignalPlot* Picsignal;
    QSpinBox* txt_channel;
    QPushButton* cmd_zoomin;
    QPushButton* cmd_zoomout;
    QCheckBox* chk_zoomy;
    QScrollBar* scrollpage;
    QLineEdit* Txtpage;
    OfflineGroupEditor* Framegrup;
};

// Opens the offline browser from the main window (its "Offline" button and the launcher's
// "Analyze recorded experiments"); `return_to` runs when the browser is closed.
Frm_offline* ShowOfflineBrowser(ReportOpener host, std::function<void()> return_to);

}  // namespace lumivo::app
