// The factory station, the logic of the window `Frm_Bench` on which an instrument's beams are
// characterised and given their first calibration: the live readings of every channel with
// their history and threshold trace, the channel-by-channel automatic calibration into a window
// around a target percentage of 2048 ("<CALIBRATE>& Auto-Gain", `Cmdcalibrar_Click`), writing one
// setting to every channel (`cmd_setcalibra_Click`, `Cmd_setall_Click`), reading the settings
// back into calvalue.dat (`SaveDeviceCalibration`), the gain curve of every channel over the
// first eight pinhole and gain steps ("Gain curve test", `cmdTEST_Click`), enabling and
// disabling channels and releasing the port's entry of multitsk.dat on exit.
//
// Headless: state in FactoryStationState, what the window shows through a BenchView, questions
// and pauses through the link's Dialogs and Clock; a window's handlers only forward to these.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/control/control_context.h"
#include "core/storage/calibration_file.h"

namespace lumivo {

inline constexpr int kBenchHistoryRows = 600;
// The threshold trace needs this many readings.
inline constexpr int kTraceReadings = 11;
// The automatic calibration starts every channel from PinHole 3, Gain 7.
inline constexpr std::int16_t kStationStartPinHole = 3;
inline constexpr std::int16_t kStationStartGain = 7;
inline constexpr std::int16_t kStationTopPinHole = 7;
// The gain curve covers PinHole 0..7 x Gain 0..7, with 21 readings of each (after 2 to settle).
inline constexpr int kCurveSteps = 8;
inline constexpr int kCurveSamples = 21;
inline constexpr int kCurveSettleReadings = 2;
inline constexpr int kMultitaskPorts = 15;

inline constexpr const char* kMaxGainMode = "Max.Gain";
inline constexpr const char* kMaxPowerMode = "Max.Power";
inline constexpr const char* kCalibrationSavingOk = "Calibration Saving OK";
inline constexpr const char* kCurveRawFile = "test_bk.txt";
inline constexpr const char* kCurveMeanFile = "test_mean.txt";
inline constexpr const char* kCurveDeviationFile = "test_desv.txt";
inline constexpr const char* kMultitaskFile = "multitsk.dat";
inline constexpr const char* kChannelEnabledText = "ENABLED";
inline constexpr const char* kChannelDisabledText = "DISABLED";

// The target window of the automatic calibration: L = CInt((T - 5) x 20.48) to
// H = CInt((T + 5) x 20.48) for a target of T percent of 2048.
struct StationWindow {
    int low = 0;
    int high = 0;
};
StationWindow StationTargetWindow(double target_percent);

// The window's online readings: the latest value of every channel, a history of 600 rows and
// the threshold trace (the largest of a channel's last 11 readings x (100 - ZeroLevel) / 100).
struct BenchReadings {
    BenchReadings() : history(kBenchHistoryRows) {}
    std::array<std::uint16_t, kChannelTableSize> current{};
    std::vector<std::array<std::uint16_t, kChannelTableSize>> history;
    int row = 0;             // the row the next reading goes into
    std::int64_t count = 0;  // readings taken
    std::array<std::int16_t, kChannelTableSize> trace{};
    bool fresh = false;  // a reading arrived since the flag was last cleared
    // Blocks 0, 32, 64, 96 of the last reading came back whole.
    std::array<bool, 4> block_whole{};
};

// What the window shows. Every method defaults to doing nothing.
class BenchView {
  public:
    virtual ~BenchView() = default;
    // The plate picture and the signal trace after a reading.
    virtual void ShowReadings(const BenchReadings& /*readings*/) {}
    // lblcalibrando: shown with its text, or hidden.
    virtual void ShowCalibrating(bool /*shown*/, const std::string& /*text*/) {}
    // picturecal: 0..383 across; the bar is drawn to `channel`.
    virtual void DrawProgress(int /*channel*/) {}
    // lblout: the reply to one of "Set All"'s writes.
    virtual void ShowReply(int /*reply*/) {}
    // txt_test: the combination the gain curve is at.
    virtual void ShowCurveStep(const std::string& /*text*/) {}
    // The online view switched on or off (Cmd_online / Cmd_offline_Click).
    virtual void SetOnline(bool /*online*/) {}
};

struct BenchContext {
    DeviceLink& link;  // its clock and dialogs are the program's
    StorageContext& storage;
    BenchView& view;
    bool offline = false;
    // ZeroLevel of channels 0..384 for the threshold trace; empty: 0 for every channel.
    std::span<const double> zero_level;
    // Asked between channels and between readings: false when the operator cancelled (hid
    // lblcalibrando, cleared the gain curve's running flag). Empty: never cancelled.
    std::function<bool()> keep_going;

    bool KeepGoing() const { return !keep_going || keep_going(); }
};

struct FactoryStationState {
    BenchReadings readings;
    // Working settings of the automatic calibration.
    std::array<std::int16_t, kChannelCount> PinHole{};
    std::array<std::int16_t, kChannelCount> Gain{};
    bool abort = false;   // a fresh reading did not come
    bool online = false;  // the window's timer takes online readings
};

// One online reading: blocks 0, 32, 64 and 96 into the current history row (a block that did
// not come back whole leaves its channels as they were), the threshold trace once 11 readings
// were taken, the picture redrawn, the fresh-data flag set, the row advanced. Offline nothing
// is read. Returns true when all four blocks came back whole.
bool TakeOnlineReading(BenchContext& ctx, FactoryStationState& state);

// How a station channel ended the automatic calibration.
enum class StationChannel : std::uint8_t {
    Untouched,   // its register was not written
    Started,     // given the starting setting PinHole 3, Gain 7 only
    Calibrated,  // stepped to its final setting
    Partial,     // the calibration stopped while this channel was being stepped
};

struct StationCalibrationResult {
    RunOutcome outcome = RunOutcome::Refused;
    StationWindow window;
    int failed_channel = -1;  // the channel whose write failed (WriteFailed)
    int failed_block = -1;    // the block that gave no fresh reading (ReadFailed)
    std::array<StationChannel, kChannelCount> channel{};
    std::array<int, kChannelCount> reading{};  // the last reading of each calibrated channel

    // Calibrated channels whose last reading lies outside the window.
    std::vector<int> ChannelsOutsideWindow() const;
    // Which channels hold what: "channels 0..57 calibrated, 58..383 at PinHole 3, Gain 7".
    std::string WrittenText() const;
};

// Cmdcalibrar_Click with the target percentage of Txtajuste and the text of Combomode: unless
// the mode is "Max.Gain" nothing is calibrated. Every channel gets PinHole 3, Gain 7, then each
// channel in turn is stepped, with a fresh reading of its block 100 ms after every write, until
// it lies in the window or its setting reaches a limit. The settings live in the instrument's
// registers only; SaveDeviceCalibration brings them into calvalue.dat. A failed write or a
// block that does not come back stops the calibration, and the result says which channels were
// written.
StationCalibrationResult CalibrateStationChannels(BenchContext& ctx, FactoryStationState& state,
                                                  double target_percent,
                                                  std::string_view mode_text);

// The progress of CalibrateStationChannels as one line for a terminal or a log: "48 of 384
// channels calibrated, about 6 min 10 s left", the time left at the pace of the channels done
// so far; without a channel done there is no pace yet and no time is given.
std::string StationProgressText(int channels_done, double elapsed_seconds);

struct DeviceCalibrationSave {
    bool saved = false;
    std::vector<int> unanswered;  // channels whose register never answered
    std::string error;            // the file error when calvalue.dat could not be written
};

// SaveDeviceCalibration: reads every channel's register back (up to eight tries 200 ms apart,
// a null frame after each failed one): Gain = v div 32, PinHole = v mod 32 limited to 7. Only
// when every channel answered are `cal` and calvalue.dat replaced, and "Calibration Saving OK"
// shown; otherwise both are left as they were and the channels without answer are named.
DeviceCalibrationSave SaveDeviceCalibration(BenchContext& ctx, CalibrationValues& cal);

// The power and gain boxes of cmd_setcalibra: the integer part of the text; a value outside
// 0..8 (PinHole) or 0..7 (Gain: its register field has three bits) becomes 0.
int StationPinHoleFromText(std::string_view text);
int StationGainFromText(std::string_view text);

// cmd_setcalibra_Click: writes (pin_hole, gain) to channels 0..383 in order with the verified
// write; a failed write shows "Communication error. Check COM PORT and equipment connection."
// and stops (RunOutcome::WriteFailed, `failed_channel` set).
RunOutcome WriteStationSettingToAll(BenchContext& ctx, int pin_hole, int gain,
                                    int* failed_channel = nullptr);

// Cmd_setall_Click: only while the window reads online, writes (pin_hole, gain) to every
// channel nine times, showing each reply. Returns false when it did not run.
bool SetAllChannelsNineTimes(BenchContext& ctx, const FactoryStationState& state, int pin_hole,
                             int gain);

// scrollpower / scrollgain: writes the selected channel's setting with the verified write.
bool WriteSelectedChannel(BenchContext& ctx, int channel, int pin_hole, int gain);

// lblstatus_DblClick on channel `channel` whose label reads `label`: asks, and on Yes switches
// the channel's flag (0 disabled, -1 enabled). Returns the label's new text.
std::string ToggleChannelEnabled(Dialogs& dialogs, int channel, const std::string& label,
                                 std::int16_t& enabled_flag);

struct GainCurveResult {
    RunOutcome outcome = RunOutcome::Refused;
    int combinations = 0;  // (PinHole, Gain) combinations measured and written to the files
    int failed_channel = -1;
    int failed_block = -1;
    std::vector<std::filesystem::path> files;  // the three files, in the installation folder
    std::string error;                         // the file error, when one could not be written
};

// cmdTEST_Click: deletes the three files, then for PinHole 0..7 and, inside, Gain 0..7 writes
// the setting to every channel, takes 2 readings to settle and 21 to keep, and appends the raw
// samples to test_bk.txt, the means to test_mean.txt and the standard deviations to
// test_desv.txt. Stops when ctx.keep_going says so; the files then hold the combinations done.
// The beams are left at the last combination written.
GainCurveResult RunGainCurveTest(BenchContext& ctx, FactoryStationState& state);

// The file texts of one combination (CR LF lines): test_bk.txt's "p=P,g=G" line and 21 sample
// lines "[s]" + " value" x 384, and the "[pP,gG]" + " value" x 384 lines of the means and
// deviations (rounded to whole numbers).
struct CurveCombinationText {
    std::string raw;
    std::string mean;
    std::string deviation;
};
CurveCombinationText FormatCurveCombination(
    int pin_hole, int gain,
    const std::vector<std::array<std::uint16_t, kChannelTableSize>>& samples);

// Command2_Click's release of the port: multitsk.dat's 15 lines "port,value" with the value of
// `port` set to 0 (missing or unreadable lines count as 0). Throws StorageError when the file
// cannot be written.
void ReleaseMultitaskPort(StorageContext& storage, int port);

}  // namespace lumivo
