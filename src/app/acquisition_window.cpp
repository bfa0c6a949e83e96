#include "app/acquisition_window.h"

#include <QStatusBar>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <set>

#include "app/control_panels.h"
#include "app/frm_main.h"
#include "app/frm_report.h"
#include "app/qt_dialogs.h"
#include "core/startup.h"

namespace lumivo::app {

AcquisitionWindow::AcquisitionWindow(Frm_Main& main) : QObject(&main), main_(main) {
    setObjectName("acquisition");
    AppContext& ctx = main_.context();
    CalibrationValues& cal =
        main_.control_panels != nullptr ? main_.control_panels->calibration : own_calibration_;
    engine_ = std::make_unique<AcquisitionEngine>(
        AcquisitionContext{ctx.link, ctx.storage, ctx.state, main_.calibration_controls,
                           main_.climate, cal, *this, data_files_});

    Timeradq = new QTimer(this);
    Timeradq->setObjectName("Timeradq");
    Timeradq->setSingleShot(true);
    Timeradq->setTimerType(Qt::PreciseTimer);
    connect(Timeradq, &QTimer::timeout, this, &AcquisitionWindow::Timeradq_Timer);

    lbl_alarm = new QLabel(&main_);
    lbl_alarm->setObjectName("lbl_alarm");
    lbl_alarm->setStyleSheet("QLabel { color: white; background: #c00000; padding: 2px 6px; }");
    lbl_alarm->hide();
    main_.statusBar()->addWidget(lbl_alarm, 1);

    // The start takes the autorun request of the command line once.
    main_.StartAcquisition = [this] {
        const bool autorun = main_.context().state.AutorunRequested;
        main_.context().state.AutorunRequested = false;
        Start(autorun);
    };
    main_.IsAcquiring = [this] { return Acquiring(); };
    connect(main_.CmdPause, &QPushButton::clicked, this, &AcquisitionWindow::CmdPause_Click);
    connect(main_.CmdStop, &QPushButton::clicked, this, &AcquisitionWindow::CmdStop_Click);
    if (main_.control_panels != nullptr) {
        ControlPanels& panels = *main_.control_panels;
        panels.AcquisitionState = [this] { return engine_->state.AcquisitionRunning; };
        panels.StopAcquisition = [this] { engine_->CmdStop_Click(kStopByCalibrationWrite); };
        panels.ResetSampleRow = [this] { engine_->sampling.SampleRow = 0; };
        // The blank samples on Timeradq, like an acquisition, never beside one.
        panels.ReadBlank = [this](int count) { return engine_->Cmd_readblank_Click(count); };
        panels.BlankActive = [this] { return engine_->BlankActive(); };
    }
}

AcquisitionWindow::~AcquisitionWindow() = default;

void AcquisitionWindow::Start(bool autorun) {
    StartOptions options;
    options.autorun = autorun;
    options.body_bends = main_.chk_bodybends->isEnabled() && main_.chk_bodybends->isChecked();
    engine_->StartAcquisition(options);
}

void AcquisitionWindow::CmdPause_Click() {
    engine_->CmdPause_Click();
}

void AcquisitionWindow::CmdStop_Click() {
    // A run stops only after the user confirms; a blank, or nothing, at once.
    engine_->RequestStop();
}

void AcquisitionWindow::Timeradq_Timer() {
    // Window events run inside a long tick (auto-adjustment): a timer event delivered then
    // must not start a second tick; the running one re-arms the timer when it ends.
    if (in_tick_) return;
    in_tick_ = true;
    Clock& clock = main_.context().clock;
    const std::int64_t begin = clock.MonotonicMicros();
    engine_->Tick();
    in_tick_ = false;
    if (engine_->TimerEnabled()) {
        const auto spent_ms = static_cast<int>((clock.MonotonicMicros() - begin) / 1000);
        Arm(std::max(0, kTimeradqIntervalMs - spent_ms));
    }
}

void AcquisitionWindow::Arm(int delay_ms) {
    Timeradq->start(delay_ms);
}

// ---- AcquisitionView ----

void AcquisitionWindow::ShowFrame(bool shown) {
    main_.frm_autotext->setVisible(shown);
    if (!shown) main_.picturecal->hide();
}

void AcquisitionWindow::SetTitle(const std::string& text) {
    main_.frm_autotext->lbl_autotext()->setText(ToQ(text));
}

void AcquisitionWindow::SetStatus(const std::string& text) {
    main_.lbl_autochannel->setText(ToQ(text));
}

void AcquisitionWindow::ScaleProgress(double x_max, double y_max) {
    main_.picturecal->SetScale(x_max, y_max);
    main_.picturecal->SetBackground(QColor(255, 255, 192));
    main_.picturecal->show();
}

void AcquisitionWindow::ClearProgress() {
    main_.picturecal->Clear();
}

void AcquisitionWindow::DrawProgress(double x) {
    main_.picturecal->DrawBarTo(x);
}

void AcquisitionWindow::ShowExperimentName(const std::string& name) {
    main_.txt_subproject->setText(ToQ(name));
}

std::string AcquisitionWindow::Description() {
    return FromQ(main_.Txt_description->text());
}

void AcquisitionWindow::OpenSetupWindow() {
    if (main_.ShowSetupWindow) main_.ShowSetupWindow();
}

void AcquisitionWindow::SetControls(const AcquisitionControls& c) {
    main_.CmdPlay->setEnabled(c.CmdPlay);
    main_.CmdPause->setEnabled(c.CmdPause);
    main_.CmdPause->setText(c.CmdPause_resumes ? "Resume" : "Pause");
    main_.cmd_connect->setEnabled(c.cmd_connect);
    main_.Cmd_disconnect->setEnabled(c.cmd_connect);
    main_.mncom->setEnabled(c.cmd_connect);
    main_.CmdStop->setEnabled(c.CmdStop);
    main_.Cmdsetup->setEnabled(c.Cmdsetup);
    main_.Cmdoffline->setEnabled(c.Cmdoffline);
    main_.Cmb_organism->setEnabled(c.Cmb_organism);
    main_.frm_mn1->txt_snr_umbral->setEnabled(c.txt_snr_umbral);
    // Body bends are counted on the U-bottom plate only.
    main_.chk_bodybends->setEnabled(c.chk_bodybends &&
                                    MakeProjectHeader(main_.context().state).bodybends_enabled);
}

void AcquisitionWindow::PrepareActivityView() {
    std::set<int> groups;
    const ProjectState& project = main_.context().state.project;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (project.ChannelGroup[c] >= 0) groups.insert(project.ChannelGroup[c]);
    }
    main_.Picact->ClearAndScale(static_cast<double>(std::max<std::size_t>(groups.size(), 1)),
                                100.0);
    main_.Picact->SetCaption("Activity");
}

void AcquisitionWindow::ClearSignalView(std::size_t rt_buffer) {
    main_.Picreal->ClearAndScale(static_cast<double>(rt_buffer) + 20.0, 2100.0);
    main_.picturetime->Clear();
}

void AcquisitionWindow::ShowTemperature(const std::string& label) {
    // The label is the program's own text (UTF-8), not file content.
    main_.lbl_temperature->setText(QString::fromUtf8(label.c_str()));
}

void AcquisitionWindow::ShowOutputs(int) {
    main_.Frame_light->Show(main_.climate);
    main_.Frame_temp->Show(main_.climate);
}

void AcquisitionWindow::ShowElapsed(const std::string& text, double percent) {
    // Called on every tick: only what changed is repainted (the time once a second, the bar
    // once a minute).
    const QString shown = ToQ(text);
    if (main_.Txt_time->text() != shown) main_.Txt_time->setText(shown);
    const double bar = std::clamp(percent, 0.0, 100.0);
    if (main_.picturetime->x_max() != 100.0) main_.picturetime->SetScale(100.0, 10.0);
    if (main_.picturetime->bar() != bar) main_.picturetime->DrawBarTo(bar);
}

void AcquisitionWindow::RedrawLivePlot() {
    main_.Picreal->update();
}

void AcquisitionWindow::WindowClosed(const SamplingState& s) {
    // The activity plot's hand-over: the window just closed and its mean count per channel in
    // use.
    const PlateMap& plate = main_.context().state.plate;
    long long sum = 0;
    int n = 0;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (plate.ChannelWell[c] < 0) continue;
        sum += s.ChannelCounts[c];
        ++n;
    }
    const double mean = n > 0 ? static_cast<double>(sum) / n : 0.0;
    // One line per window on stderr: the measured sample period and how long the window
    // waited for its events at most (the longest tick so far).
    std::fprintf(stderr,
                 "lumivo: window %d closed: sample period %.1f ms, longest tick %.1f ms, window "
                 "close %.1f ms at most\n",
                 s.windows_closed, s.SamplePeriod * 1000.0,
                 static_cast<double>(s.longest_tick_us) / 1000.0,
                 static_cast<double>(s.longest_close_us) / 1000.0);
    main_.Picact->SetCaption(QString("Activity - window %1: %2 counts per channel, %3 s/sample")
                                 .arg(s.windows_closed)
                                 .arg(mean, 0, 'f', 1)
                                 .arg(s.SamplePeriod, 0, 'f', 3));
}

void AcquisitionWindow::ShowCalibrating(bool shown) {
    main_.lblcalibrando->setVisible(shown);
}

void AcquisitionWindow::SetCalibratingText(const std::string& text) {
    main_.lblcalibrando->setText(ToQ(text));
}

void AcquisitionWindow::SetSamplingTimer(bool enabled) {
    if (!enabled) {
        Timeradq->stop();
    } else if (!in_tick_) {
        Arm(kTimeradqIntervalMs);
    }
}

void AcquisitionWindow::ShowAlarm(const std::string& text) {
    lbl_alarm->setText(ToQ(text));
    lbl_alarm->setVisible(!text.empty());
}

bool AcquisitionWindow::UserDefinedReport() {
    // The end of a recorded run goes to the report side, which makes the report with the
    // user-defined settings (mn_userbin) or opens the report window and gives the notice.
    return engine_->state.RecordingOn;
}

void AcquisitionWindow::OpenReportWindow() {
    const bool automatic = main_.mn_userbin->isChecked();
    const reporting::ReportOutcome outcome =
        ReportAfterRun(main_, engine_->state.AcquisitionFolder);
    if (!automatic) return;
    if (!outcome.written) {
        engine_->LogEvent("The automatic report was not written: " + outcome.failure);
    } else {
        engine_->LogEvent("Automatic report written: " + outcome.report_file.string());
        if (!outcome.raw_export_failure.empty())
            engine_->LogEvent("The raw data were not exported: " + outcome.raw_export_failure);
    }
}

void AcquisitionWindow::OpenTextFile(const std::filesystem::path& file) {
    if (main_.OpenDocument) main_.OpenDocument(QUrl::fromLocalFile(ToQ(file.string())));
}

void AcquisitionWindow::LogEvent(const std::string& line) {
    main_.AppendLog(line);
}

void AcquisitionWindow::ShowStatusLine(const std::string& text) {
    main_.ShowStatusLine(text);
}

void AcquisitionWindow::ShowExpectedEnd(const std::optional<LocalDateTime>& end) {
    QString text;
    if (end) {
        // To the minute: the run ends at the first window close after it anyway.
        LocalDateTime minute =
            AddSeconds(*end, end->second >= 30 ? 60 - end->second : -end->second);
        minute.second = 0;
        text = "Ends about " + LocaleDateTime(minute, QLocale::ShortFormat);
    }
    if (main_.lbl_endtime->text() != text) main_.lbl_endtime->setText(text);
}

std::string AcquisitionWindow::FormatDateTime(const LocalDateTime& t) {
    return FromQ(LocaleDateTime(t, QLocale::ShortFormat));
}

}  // namespace lumivo::app
