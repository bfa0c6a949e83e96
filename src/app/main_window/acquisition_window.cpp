#include "app/main_window/acquisition_window.h"

#include <QStatusBar>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "app/support/qt_dialogs.h"
#include "app/windows/frm_report.h"

namespace lumivo::app {

AcquisitionWindow::AcquisitionWindow(QObject* parent, AcquisitionDisplay& display,
                                     ReportOpener report, AutoActionStrip& strip, LiveView& live,
                                     QStatusBar& status_bar)
    : QObject(parent),
      ctx_(report.ctx),
      display_(display),
      report_(report),
      strip_(strip),
      live_(live) {
    setObjectName("acquisition");
    AppContext& ctx = ctx_;
    engine_ = std::make_unique<AcquisitionEngine>(AcquisitionContext{
        ctx.link, ctx.storage, ctx.state, ctx.tools.calibration, ctx.tools.climate, ctx.tools.cal,
        AcquisitionViews{*this, *this, *this, *this, *this}, data_files_, nullptr,
        &live_.hand_over()});

    Timeradq = new QTimer(this);
    Timeradq->setObjectName("Timeradq");
    Timeradq->setSingleShot(true);
    Timeradq->setTimerType(Qt::PreciseTimer);
    connect(Timeradq, &QTimer::timeout, this, &AcquisitionWindow::Timeradq_Timer);
    Timer_endtime = new QTimer(this);
    Timer_endtime->setObjectName("Timer_endtime");
    Timer_endtime->setInterval(1000);
    connect(Timer_endtime, &QTimer::timeout, this, &AcquisitionWindow::Timer_endtime_Timer);

    lbl_alarm = new QLabel(&status_bar);
    lbl_alarm->setObjectName("lbl_alarm");
    lbl_alarm->setStyleSheet("QLabel { color: white; background: #c00000; padding: 2px 6px; }");
    lbl_alarm->hide();
    status_bar.addWidget(lbl_alarm, 1);
    live_.AttachStatusBar(status_bar);
}

AcquisitionWindow::~AcquisitionWindow() = default;

void AcquisitionWindow::CmdPlay_Click() {
    AppState& state = ctx_.state;
    const bool autorun = state.AutorunRequested;
    state.AutorunRequested = false;
    Start(autorun);
}

void AcquisitionWindow::Start(bool autorun) {
    StartOptions options;
    options.autorun = autorun;
    options.body_bends = display_.BodyBendsChosen();
    engine_->StartAcquisition(options);
}

void AcquisitionWindow::CmdPause_Click() {
    engine_->TogglePause();
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
    Clock& clock = ctx_.clock;
    const std::int64_t begin = clock.MonotonicMicros();
    engine_->Tick();
    in_tick_ = false;
    if (engine_->SamplingOn()) {
        const auto spent_ms = static_cast<int>((clock.MonotonicMicros() - begin) / 1000);
        Arm(std::max(0, kTimeradqIntervalMs - spent_ms));
    }
}

void AcquisitionWindow::Timer_endtime_Timer() {
    ShowExpectedEnd(engine_->ExpectedEnd());
}

void AcquisitionWindow::Arm(int delay_ms) {
    Timeradq->start(delay_ms);
}

// ---- The engine's views ----

void AcquisitionWindow::ShowFrame(bool shown) {
    strip_.ShowFrame(shown);
    if (!shown) strip_.ShowProgress(false);
}

void AcquisitionWindow::SetTitle(const std::string& text) {
    strip_.SetTitle(text);
}

void AcquisitionWindow::SetStatus(const std::string& text) {
    strip_.SetStatus(text);
}

void AcquisitionWindow::ScaleProgress(double x_max, double y_max) {
    strip_.progress().SetScale(x_max, y_max);
    strip_.progress().SetBackground(QColor(255, 255, 192));
    strip_.ShowProgress(true);
}

void AcquisitionWindow::ClearProgress() {
    strip_.progress().Clear();
}

void AcquisitionWindow::DrawProgress(double x) {
    strip_.progress().DrawBarTo(x);
}

void AcquisitionWindow::ShowExperimentName(const std::string& name) {
    display_.ShowExperimentName(name);
}

std::string AcquisitionWindow::Description() {
    return display_.Description();
}

void AcquisitionWindow::OpenSetupWindow() {
    display_.ShowSetupWindow();
}

void AcquisitionWindow::ShowCommands(const RunCommands& c) {
    display_.ShowRunCommands(c);
    const auto& run = engine_->State();
    const bool held = run.AcquisitionRunning == RunState::Paused && run.TimeCounterStopped;
    if (held && !Timer_endtime->isActive()) Timer_endtime->start();
    if (!held) Timer_endtime->stop();
}

void AcquisitionWindow::PrepareActivityView() {
    live_.PrepareActivity(ctx_.state.project);
}

void AcquisitionWindow::ClearSignalView(std::size_t rt_buffer) {
    // A run starts: the engine began it on the hand-over; the plots start empty.
    live_.ClearSignal(rt_buffer);
}

void AcquisitionWindow::ShowTemperature(const std::string& label) {
    display_.ShowTemperature(label);
}

void AcquisitionWindow::ShowOutputs(int) {
    display_.ShowToolState();
}

void AcquisitionWindow::ShowElapsed(const std::string& text, double percent) {
    // Called on every tick: only what changed is repainted (the time once a second, the bar
    // once a minute).
    display_.ShowElapsedTime(text);
    live_.ShowElapsedBar(percent);
}

void AcquisitionWindow::RedrawLivePlot() {
    // The plots repaint on their own timer from what the loop handed over.
}

void AcquisitionWindow::WindowClosed(std::int32_t number, double sample_period) {
    // One line per window on stderr: the measured sample period and how long the window
    // waited for its events at most (the longest tick so far).
    const SamplingState& s = engine_->Sampling();
    std::fprintf(stderr,
                 "lumivo: window %d closed: sample period %.1f ms, longest tick %.1f ms, window "
                 "close %.1f ms at most\n",
                 number, sample_period * 1000.0, static_cast<double>(s.longest_tick_us) / 1000.0,
                 static_cast<double>(s.longest_close_us) / 1000.0);
}

void AcquisitionWindow::ShowCalibrating(bool shown) {
    strip_.ShowCalibrating(shown);
}

void AcquisitionWindow::SetCalibratingText(const std::string& text) {
    strip_.SetCalibratingText(text);
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
    return engine_->State().RecordingOn;
}

void AcquisitionWindow::OpenReportWindow() {
    const bool automatic = report_.bins.UserDefinedReport();
    const reporting::ReportOutcome outcome =
        ReportAfterRun(report_, engine_->State().AcquisitionFolder);
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
    report_.parent.OpenDocument(QUrl::fromLocalFile(ToQ(file.string())));
}

void AcquisitionWindow::LogEvent(const std::string& line) {
    report_.log.AppendLog(line);
}

void AcquisitionWindow::ShowStatusLine(const std::string& text) {
    report_.log.ShowStatusLine(text);
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
    display_.ShowExpectedEnd(text);
}

std::string AcquisitionWindow::FormatDateTime(const LocalDateTime& t) {
    return FromQ(LocaleDateTime(t, QLocale::ShortFormat));
}

}  // namespace lumivo::app
