#include "app/windows/frm_bench.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_fields.h"
#include "core/control/self_test.h"

namespace lumivo::app {

namespace {

constexpr int kTimerrealIntervalMs = 100;
constexpr double kFullScale = 4096.0;
// The targets whose window stays inside the 12-bit scale.
constexpr double kMinTargetPercent = 5.0;
constexpr double kMaxTargetPercent = 190.0;
constexpr const char* kTargetRefusal = "Invalid value: 5 to 190 (% of 2048)";
constexpr const char* kSetAllNeedsOnline =
    "\"Set All\" writes while the readings run: press \"Online\" first.";

// The target of the program's own calibration window (1638..1843), in percent of 2048.
double ProgramTargetPercent() {
    return std::round((CalibrationWindowLow + CalibrationWindowHigh) / 2.0 / 20.48);
}

QString WellOfChannel(int channel) {
    return QString(QChar('A' + channel % kGridRows)) + QString::number(channel / kGridRows + 1);
}

// A reading as a shade: black at 0, white at 2048 (100 %), orange above.
QColor ReadingColour(int reading) {
    if (reading > 2048) return {255, std::max(80, 255 - (reading - 2048) / 8), 40};
    const int v = std::clamp(reading * 255 / 2048, 0, 255);
    return {v, v, v};
}

}  // namespace

// ---- Picwell ----

BenchPlate::BenchPlate(QWidget* parent) : QWidget(parent) {
    setObjectName("Picwell");
    setMinimumSize(480, 240);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void BenchPlate::Show(const BenchReadings& readings, int channel) {
    readings_ = &readings;
    channel_ = channel;
    update();
}

QRectF BenchPlate::Area() const {
    return QRectF(20, 4, width() - 24, height() - 22);
}

void BenchPlate::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(30, 30, 40));
    const QRectF area = Area();
    const double cw = area.width() / kGridColumns;
    const double ch = area.height() / kGridRows;
    QFont small = font();
    small.setPointSizeF(std::max(6.0, std::min(cw / 4.2, ch / 2.2)));
    p.setFont(small);
    for (int c = 0; c < kChannelCount; ++c) {
        const QRectF cell(area.left() + (c / kGridRows) * cw, area.top() + (c % kGridRows) * ch,
                          cw - 1, ch - 1);
        const int r = readings_ ? readings_->current[static_cast<std::size_t>(c)] : 0;
        const QColor colour = ReadingColour(r);
        p.fillRect(cell, colour);
        if (cw >= 26 && ch >= 12) {
            p.setPen(colour.lightness() > 128 ? Qt::black : Qt::white);
            p.drawText(cell, Qt::AlignCenter, QString::number(r));
        }
    }
    p.setPen(QPen(Qt::red, 2));
    p.drawRect(QRectF(area.left() + (channel_ / kGridRows) * cw,
                      area.top() + (channel_ % kGridRows) * ch, cw - 1, ch - 1));
    p.setPen(Qt::white);
    for (int row = 0; row < kGridRows; ++row)
        p.drawText(QRectF(0, area.top() + row * ch, 16, ch), Qt::AlignCenter,
                   QString(QChar('A' + row)));
    for (int column = 0; column < kGridColumns; ++column)
        p.drawText(QRectF(area.left() + column * cw, area.bottom() + 2, cw, 16), Qt::AlignCenter,
                   QString::number(column + 1));
}

void BenchPlate::mousePressEvent(QMouseEvent* event) {
    const QRectF area = Area();
    const QPointF at = event->position();
    if (!area.contains(at)) return;
    const int column = static_cast<int>((at.x() - area.left()) / (area.width() / kGridColumns));
    const int row = static_cast<int>((at.y() - area.top()) / (area.height() / kGridRows));
    const int channel =
        std::clamp(column, 0, kGridColumns - 1) * kGridRows + std::clamp(row, 0, kGridRows - 1);
    emit channelChosen(channel);
}

// ---- Pictrace ----

BenchTrace::BenchTrace(QWidget* parent) : QWidget(parent) {
    setObjectName("Pictrace");
    setMinimumSize(480, 150);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void BenchTrace::Show(const BenchReadings& readings, int channel) {
    readings_ = &readings;
    channel_ = channel;
    update();
}

void BenchTrace::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRectF area(44, 8, width() - 52, height() - 28);
    p.setPen(Qt::black);
    p.drawRect(area);
    for (const int level : {0, 1024, 2048, 3072, 4095}) {
        const double y = area.bottom() - level / kFullScale * area.height();
        p.setPen(Qt::lightGray);
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        p.setPen(Qt::darkGray);
        p.drawText(QRectF(0, y - 8, 40, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(level));
    }
    p.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignCenter,
               QString("CH %1 (%2): last %3 readings")
                   .arg(channel_)
                   .arg(WellOfChannel(channel_))
                   .arg(kBenchHistoryRows));
    if (readings_ == nullptr || readings_->count == 0) return;
    const auto c = static_cast<std::size_t>(channel_);
    const int n = static_cast<int>(std::min<std::int64_t>(readings_->count, kBenchHistoryRows));
    QPolygonF line;
    line.reserve(n);
    for (int k = 0; k < n; ++k) {
        // Oldest first: the row the next reading goes into holds the oldest of a full history.
        const int row = (readings_->row - n + k + kBenchHistoryRows) % kBenchHistoryRows;
        const int v = readings_->history[static_cast<std::size_t>(row)][c];
        line << QPointF(area.left() + k * area.width() / (kBenchHistoryRows - 1),
                        area.bottom() - v / kFullScale * area.height());
    }
    p.setPen(QPen(QColor(0, 0, 160), 1.5));
    p.drawPolyline(line);
    if (readings_->count >= kTraceReadings) {
        const double y = area.bottom() - readings_->trace[c] / kFullScale * area.height();
        p.setPen(QPen(Qt::red, 1, Qt::DashLine));
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        p.drawText(QRectF(area.right() - 160, y - 16, 156, 14), Qt::AlignRight,
                   QString("threshold %1").arg(readings_->trace[c]));
    }
}

// ---- Frm_Bench ----

Frm_Bench::Frm_Bench(AppContext& ctx, QWidget* parent) : QWidget(parent, Qt::Window), ctx_(ctx) {
    setObjectName("Frm_Bench");
    setWindowTitle("Lumivo - Factory: channel calibration station");
    auto* root = new QHBoxLayout(this);

    auto* left = new QVBoxLayout;
    Picwell = new BenchPlate(this);
    Pictrace = new BenchTrace(this);
    left->addWidget(Picwell, 3);
    left->addWidget(Pictrace, 2);
    lbl_result = Named(new QLabel(this), "lbl_result");
    lbl_result->setWordWrap(true);
    left->addWidget(lbl_result);
    root->addLayout(left, 1);

    auto [right_widget, right] = FixedColumn(this, 360);

    // The readings and the chosen channel.
    auto* channel_box = Named(new QGroupBox("Channel", right_widget), "frm_channel");
    auto* cg = new QGridLayout(channel_box);
    Cmd_online = Button(channel_box, "Cmd_online", "Online");
    Cmd_offline = Button(channel_box, "Cmd_offline", "Offline", false);
    lblcanal = Named(new QLabel(channel_box), "lblcanal");
    lblstatus = Named(new QLabel(kChannelEnabledText, channel_box), "lblstatus");
    lblstatus->setToolTip("Double click to enable or disable the channel");
    lblstatus->setFrameShape(QFrame::Panel);
    lblstatus->installEventFilter(this);
    auto scroll = [channel_box](const char* name, int top) {
        auto* s = Named(new QScrollBar(Qt::Horizontal, channel_box), name);
        s->setRange(0, top);
        s->setPageStep(1);
        return s;
    };
    scrollpower = scroll("scrollpower", kStationTopPinHole);
    scrollgain = scroll("scrollgain", kMaxGain);
    Scroll_threshold = scroll("Scroll_threshold", 100);
    txtpower = ReadOnlyBox(channel_box, "txtpower", 40);
    txtgain = ReadOnlyBox(channel_box, "txtgain", 40);
    txt_threshold = ReadOnlyBox(channel_box, "txt_threshold", 40);
    for (QLineEdit* b : {txtpower, txtgain, txt_threshold}) b->setFocusPolicy(Qt::NoFocus);
    cg->addWidget(Cmd_online, 0, 0);
    cg->addWidget(Cmd_offline, 0, 1);
    cg->addWidget(lblcanal, 1, 0);
    cg->addWidget(lblstatus, 1, 1, 1, 2);
    cg->addWidget(new QLabel("PinHole:", channel_box), 2, 0);
    cg->addWidget(scrollpower, 2, 1);
    cg->addWidget(txtpower, 2, 2);
    cg->addWidget(new QLabel("Gain:", channel_box), 3, 0);
    cg->addWidget(scrollgain, 3, 1);
    cg->addWidget(txtgain, 3, 2);
    cg->addWidget(new QLabel("Zero level %:", channel_box), 4, 0);
    cg->addWidget(Scroll_threshold, 4, 1);
    cg->addWidget(txt_threshold, 4, 2);
    cg->setColumnStretch(1, 1);
    right->addWidget(channel_box);

    // The automatic calibration and its read-back.
    auto* cal_box = Named(new QGroupBox("Calibration", right_widget), "frm_calibration");
    auto* kg = new QGridLayout(cal_box);
    Txtajuste = NumberBox(cal_box, "Txtajuste", 60);
    Combomode = Named(new QComboBox(cal_box), "Combomode");
    Cmdcalibrar = Button(cal_box, "Cmdcalibrar", "<CALIBRATE>& Auto-Gain");
    cmd_savecal = Button(cal_box, "cmd_savecal", "Save Calibration");
    cmd_savecal->setToolTip(
        "Reads every channel's setting back from the instrument into "
        "calvalue.dat");
    lblcalibrando = Named(new QLabel(cal_box), "lblcalibrando");
    lblcalibrando->setStyleSheet("QLabel { color: #a00000; font-weight: bold; }");
    lblcalibrando->hide();
    picturecal = new ProgressBox(cal_box);
    picturecal->setObjectName("picturecal");
    picturecal->setFixedHeight(12);
    picturecal->SetScale(kChannelCount - 1, 10);
    AddLabelled(kg, 0, 0, "Target % of 2048:", Txtajuste);
    kg->addWidget(Combomode, 0, 2);
    kg->addWidget(Cmdcalibrar, 1, 0, 1, 2);
    kg->addWidget(cmd_savecal, 1, 2);
    kg->addWidget(lblcalibrando, 2, 0, 1, 3);
    kg->addWidget(picturecal, 3, 0, 1, 3);
    right->addWidget(cal_box);

    // One setting for every channel.
    auto* all_box = Named(new QGroupBox("Every channel", right_widget), "frm_setall");
    auto* ag = new QGridLayout(all_box);
    txt_power = NumberBox(all_box, "txt_power", 50);
    txt_ganancia = NumberBox(all_box, "txt_ganancia", 50);
    cmd_setcalibra = Button(all_box, "cmd_setcalibra", "Write to all");
    Cmd_setall = Button(all_box, "Cmd_setall", "Set All");
    lblout = Named(new QLabel(all_box), "lblout");
    AddLabelled(ag, 0, 0, "PinHole:", txt_power);
    AddLabelled(ag, 1, 0, "Gain:", txt_ganancia);
    ag->addWidget(cmd_setcalibra, 0, 2);
    ag->addWidget(Cmd_setall, 1, 2);
    ag->addWidget(new QLabel("Reply:", all_box), 2, 0);
    ag->addWidget(lblout, 2, 1, 1, 2);
    right->addWidget(all_box);

    // The gain curve.
    auto* curve_box = Named(new QGroupBox("Gain curve", right_widget), "frm_curve");
    auto* vg = new QVBoxLayout(curve_box);
    cmdTEST = Button(curve_box, "cmdTEST", kGainCurveTestCaption);
    txt_test = ReadOnlyBox(curve_box, "txt_test");
    txt_test->setFocusPolicy(Qt::NoFocus);
    vg->addWidget(cmdTEST);
    vg->addWidget(txt_test);
    right->addWidget(curve_box);
    right->addStretch();
    cmdclose = Button(right_widget, "cmdclose", "Close");
    cmdclose->setToolTip("Back to the main window");
    Command2 = Button(right_widget, "Command2", "EXIT");
    Command2->setToolTip("Releases the port in multitsk.dat and ends the program");
    right->addLayout(ButtonRow({cmdclose, Command2}));
    connect(cmdclose, &QPushButton::clicked, this, &QWidget::close);
    root->addWidget(right_widget);

    Timerreal = new QTimer(this);
    Timerreal->setObjectName("Timerreal");
    Timerreal->setInterval(kTimerrealIntervalMs);
    connect(Timerreal, &QTimer::timeout, this, &Frm_Bench::Timerreal_Timer);
    ConnectClicks(this, {{Cmd_online, &Frm_Bench::Cmd_online_Click},
                         {Cmd_offline, &Frm_Bench::Cmd_offline_Click},
                         {Cmdcalibrar, &Frm_Bench::Cmdcalibrar_Click},
                         {cmd_savecal, &Frm_Bench::cmd_savecal_Click},
                         {cmd_setcalibra, &Frm_Bench::cmd_setcalibra_Click},
                         {Cmd_setall, &Frm_Bench::Cmd_setall_Click},
                         {cmdTEST, &Frm_Bench::cmdTEST_Click},
                         {Command2, &Frm_Bench::Command2_Click}});
    connect(scrollpower, &QScrollBar::valueChanged, this, &Frm_Bench::scrollpower_Change);
    connect(scrollgain, &QScrollBar::valueChanged, this, &Frm_Bench::scrollgain_Change);
    connect(Scroll_threshold, &QScrollBar::valueChanged, this, &Frm_Bench::Scroll_threshold_Change);
    connect(Picwell, &BenchPlate::channelChosen, this, &Frm_Bench::SelectChannel);
    resize(1100, 720);
}

BenchContext Frm_Bench::Context() {
    return BenchContext{ctx_.link,
                        ctx_.storage,
                        *this,
                        Offline(),
                        std::span<const double>(ctx_.state.project.ChannelThreshold),
                        [this] { return !cancel_; }};
}

bool Frm_Bench::Offline() const {
    const ConnectionState& c = ctx_.state.connection;
    return c.OfflineMode || !c.InstrumentConnected;
}

void Frm_Bench::Form_Load() {
    Txtajuste->setText(QString::number(ProgramTargetPercent()));
    Combomode->clear();
    Combomode->addItems({kMaxGainMode, kMaxPowerMode});
    Combomode->setCurrentIndex(0);
    txt_power->setText("2");
    txt_ganancia->setText("3");
    // The channel boxes start from the settings in calvalue.dat (without one, from the
    // first-time settings an instrument starts with).
    cal_.PinHole.fill(kFirstPinHole);
    cal_.Gain.fill(kFirstGain);
    const auto file = ctx_.storage.install_dir / kCalibrationFileName;
    if (ctx_.storage.files.IsFile(file)) {
        try {
            LoadCalibration(ctx_.storage, cal_);
        } catch (const std::exception& e) {
            ctx_.dialogs.MessageBox(e.what(), MsgButtons::Ok);
        }
    }
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        state_.PinHole[i] = std::min<std::int16_t>(cal_.PinHole[i], kStationTopPinHole);
        state_.Gain[i] = cal_.Gain[i];
    }
    SelectChannel(0);
    ShowReadings(state_.readings);
    if (!Offline()) Cmd_online_Click();
}

void Frm_Bench::SelectChannel(int channel) {
    channel_ = std::clamp(channel, 0, kChannelCount - 1);
    ShowChannel();
    Picwell->Show(state_.readings, channel_);
    Pictrace->Show(state_.readings, channel_);
}

void Frm_Bench::ShowChannel() {
    const auto i = static_cast<std::size_t>(channel_);
    lblcanal->setText(QString("CH %1 [%2]").arg(channel_).arg(WellOfChannel(channel_)));
    lblstatus->setText(ctx_.state.project.ChannelEnabled[i] == 0 ? kChannelDisabledText
                                                                 : kChannelEnabledText);
    // Showing a channel writes nothing.
    const QSignalBlocker b1(scrollpower), b2(scrollgain), b3(Scroll_threshold);
    scrollpower->setValue(state_.PinHole[i]);
    scrollgain->setValue(state_.Gain[i]);
    Scroll_threshold->setValue(
        static_cast<int>(std::clamp(ctx_.state.project.ChannelThreshold[i], 0.0, 100.0)));
    txtpower->setText(QString::number(scrollpower->value()));
    txtgain->setText(QString::number(scrollgain->value()));
    txt_threshold->setText(QString::number(Scroll_threshold->value()));
}

void Frm_Bench::SetBusy(bool busy, QPushButton* running) {
    busy_ = busy;
    if (busy) {
        cancel_ = false;
        reading_ = Timerreal->isActive();
        Timerreal->stop();
    } else if (reading_ && state_.online) {
        Timerreal->start();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             Cmd_online, Cmd_offline, Cmdcalibrar, cmd_savecal, cmd_setcalibra, Cmd_setall, cmdTEST,
             Command2, cmdclose, scrollpower, scrollgain, Scroll_threshold, Txtajuste, Combomode}) {
        if (w != running) w->setEnabled(!busy);
    }
    if (!busy) {
        Cmd_online->setEnabled(!state_.online);
        Cmd_offline->setEnabled(state_.online);
    }
}

// ---- Handlers ----

void Frm_Bench::Cmd_online_Click() {
    if (Offline()) {
        ctx_.dialogs.MessageBox(kOfflineRefusalMessage, MsgButtons::Ok);
        return;
    }
    SetOnline(true);
}

void Frm_Bench::Cmd_offline_Click() {
    SetOnline(false);
}

void Frm_Bench::Timerreal_Timer() {
    if (busy_ || !state_.online) return;
    BenchContext c = Context();
    if (!TakeOnlineReading(c, state_)) {
        QString missing;
        for (std::size_t b = 0; b < kBlockStarts.size(); ++b) {
            if (!state_.readings.block_whole[b]) missing += " " + QString::number(kBlockStarts[b]);
        }
        lbl_result->setText("Reading incomplete: block" + missing + " did not come back whole");
    }
}

void Frm_Bench::Cmdcalibrar_Click() {
    if (busy_) {
        // "STOP": the calibration ends before the next channel.
        cancel_ = true;
        lblcalibrando->hide();
        return;
    }
    const auto target = ParseNumericText(FromQ(Txtajuste->text()));
    if (!target || *target < kMinTargetPercent || *target > kMaxTargetPercent) {
        ctx_.dialogs.MessageBox(kTargetRefusal, MsgButtons::Ok);
        return;
    }
    SetBusy(true, Cmdcalibrar);
    Cmdcalibrar->setText("STOP");
    BenchContext c = Context();
    last_calibration_ =
        CalibrateStationChannels(c, state_, *target, FromQ(Combomode->currentText()));
    const StationCalibrationResult& r = last_calibration_;
    const std::string window = std::to_string(r.window.low) + ".." + std::to_string(r.window.high);
    if (r.outcome == RunOutcome::Completed) {
        const auto outside = r.ChannelsOutsideWindow();
        lbl_result->setText(
            ToQ("Calibration completed: " + std::to_string(kChannelCount - outside.size()) +
                " of " + std::to_string(kChannelCount) + " channels in the window " + window +
                ". The settings are in the instrument only: \"Save Calibration\" keeps them in "
                "calvalue.dat."));
    } else if (r.outcome == RunOutcome::Refused) {
        lbl_result->setText(
            ToQ(std::string("Nothing calibrated (mode ") + FromQ(Combomode->currentText()) + ")"));
    } else {
        lbl_result->setText(ToQ(std::string("Calibration NOT completed (") +
                                RunOutcomeText(r.outcome) + "): " + r.WrittenText() +
                                ". calvalue.dat was not changed."));
    }
    Cmdcalibrar->setText("<CALIBRATE>& Auto-Gain");
    SetBusy(false);
    SelectChannel(channel_);
}

void Frm_Bench::cmd_savecal_Click() {
    SetBusy(true);
    BenchContext c = Context();
    const DeviceCalibrationSave saved = SaveDeviceCalibration(c, cal_);
    if (saved.saved) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const auto i = static_cast<std::size_t>(ch);
            state_.PinHole[i] = cal_.PinHole[i];
            state_.Gain[i] = cal_.Gain[i];
        }
        lbl_result->setText(ToQ(std::string(kCalibrationSavingOk) + ": " +
                                (ctx_.storage.install_dir / kCalibrationFileName).string()));
    } else {
        lbl_result->setText("Calibration NOT saved: calvalue.dat was not changed");
    }
    SetBusy(false);
    SelectChannel(channel_);
}

void Frm_Bench::cmd_setcalibra_Click() {
    const int p = StationPinHoleFromText(FromQ(txt_power->text()));
    const int g = StationGainFromText(FromQ(txt_ganancia->text()));
    txt_power->setText(QString::number(p));
    txt_ganancia->setText(QString::number(g));
    picturecal->SetScale(kChannelCount - 1, 10);
    picturecal->Clear();
    SetBusy(true);
    BenchContext c = Context();
    int failed = -1;
    if (WriteStationSettingToAll(c, p, g, &failed) == RunOutcome::Completed) {
        state_.PinHole.fill(static_cast<std::int16_t>(std::min(p, int{kStationTopPinHole})));
        state_.Gain.fill(static_cast<std::int16_t>(g));
        lbl_result->setText(QString("Every channel set to PinHole %1, Gain %2").arg(p).arg(g));
    } else {
        lbl_result->setText(QString("Stopped at channel %1: channels before it hold PinHole %2, "
                                    "Gain %3")
                                .arg(failed)
                                .arg(p)
                                .arg(g));
    }
    SetBusy(false);
    SelectChannel(channel_);
}

void Frm_Bench::Cmd_setall_Click() {
    const int p = StationPinHoleFromText(FromQ(txt_power->text()));
    const int g = StationGainFromText(FromQ(txt_ganancia->text()));
    if (!state_.online) {
        ctx_.dialogs.MessageBox(kSetAllNeedsOnline, MsgButtons::Ok);
        return;
    }
    SetBusy(true);
    BenchContext c = Context();
    SetAllChannelsNineTimes(c, state_, p, g);
    SetBusy(false);
}

void Frm_Bench::cmdTEST_Click() {
    if (busy_) {
        cancel_ = true;  // the running flag cleared: the test stops before the next reading
        return;
    }
    if (ctx_.dialogs.MessageBox(
            "Run the gain curve test? Every channel is set to the 64 combinations of PinHole "
            "0..7 and Gain 0..7 and left at the last one; test_bk.txt, test_mean.txt and "
            "test_desv.txt are replaced.",
            MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    SetBusy(true, cmdTEST);
    cmdTEST->setText("STOP TEST");
    BenchContext c = Context();
    last_curve_ = RunGainCurveTest(c, state_);
    QString text = QString("Gain curve: %1 of 64 combinations (%2)")
                       .arg(last_curve_.combinations)
                       .arg(RunOutcomeText(last_curve_.outcome));
    if (last_curve_.combinations > 0) {
        text += " in";
        for (const auto& f : last_curve_.files) text += " " + QString::fromStdString(f.string());
    }
    text += ". Calibrate the beams before recording.";
    lbl_result->setText(text);
    cmdTEST->setText(kGainCurveTestCaption);
    SetBusy(false);
}

void Frm_Bench::lblstatus_DblClick() {
    auto& flag = ctx_.state.project.ChannelEnabled[static_cast<std::size_t>(channel_)];
    lblstatus->setText(
        ToQ(ToggleChannelEnabled(ctx_.dialogs, channel_, FromQ(lblstatus->text()), flag)));
}

void Frm_Bench::scrollpower_Change(int value) {
    txtpower->setText(QString::number(value));
    state_.PinHole[static_cast<std::size_t>(channel_)] = static_cast<std::int16_t>(value);
    BenchContext c = Context();
    if (!Offline()) WriteSelectedChannel(c, channel_, value, scrollgain->value());
}

void Frm_Bench::scrollgain_Change(int value) {
    txtgain->setText(QString::number(value));
    state_.Gain[static_cast<std::size_t>(channel_)] = static_cast<std::int16_t>(value);
    BenchContext c = Context();
    if (!Offline()) WriteSelectedChannel(c, channel_, scrollpower->value(), value);
}

void Frm_Bench::Scroll_threshold_Change(int value) {
    txt_threshold->setText(QString::number(value));
    ctx_.state.project.ChannelThreshold[static_cast<std::size_t>(channel_)] = value;
}

void Frm_Bench::Command2_Click() {
    if (!Offline()) {
        try {
            ReleaseMultitaskPort(ctx_.storage, ctx_.link.ComPortNumber);
        } catch (const std::exception& e) {
            ctx_.dialogs.MessageBox(e.what(), MsgButtons::Ok);
        }
    }
    close();
    if (ExitProgram) ExitProgram();
}

bool Frm_Bench::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblstatus && event->type() == QEvent::MouseButtonDblClick && !busy_) {
        lblstatus_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Frm_Bench::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // A calibration or gain curve in progress stops first.
        cancel_ = true;
        lblcalibrando->hide();
        event->ignore();
        return;
    }
    SetOnline(false);
    event->accept();
    if (Unloaded) Unloaded();
}

// ---- BenchView ----

void Frm_Bench::ShowReadings(const BenchReadings& readings) {
    Picwell->Show(readings, channel_);
    Pictrace->Show(readings, channel_);
}

void Frm_Bench::ShowCalibrating(bool shown, const std::string& text) {
    lblcalibrando->setText(ToQ(text));
    // A calibration the operator stopped keeps its label hidden until it ends.
    lblcalibrando->setVisible(shown && !cancel_);
}

void Frm_Bench::DrawProgress(int channel) {
    picturecal->DrawBarTo(channel);
    // The calibration reads blocks into the readings itself: the picture follows them.
    Picwell->Show(state_.readings, channel_);
    // A write to every channel takes seconds: the window repaints on the way (its commands are
    // disabled meanwhile).
    if (channel % 32 == 31) ctx_.dialogs.ProcessEvents();
}

void Frm_Bench::ShowReply(int reply) {
    lblout->setText(QString::number(reply));
}

void Frm_Bench::ShowCurveStep(const std::string& text) {
    txt_test->setText(ToQ(text));
}

void Frm_Bench::SetOnline(bool online) {
    state_.online = online;
    if (online) {
        Timerreal->start();
    } else {
        Timerreal->stop();
        reading_ = false;
    }
    if (!busy_) {
        Cmd_online->setEnabled(!online);
        Cmd_offline->setEnabled(online);
    }
}

}  // namespace lumivo::app
