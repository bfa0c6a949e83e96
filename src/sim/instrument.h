// The simulated activity monitor: a model of the instrument behind the serial line. It takes the
// host's bytes, parses the 5-byte command frames (FF b1 b2 b3 F0), acts on them and queues the
// reply bytes with the time at which each one would have finished arriving at the host.
//
// The model never reads a clock: time only moves through the `now_us` arguments, so the same
// model runs under a virtual clock in tests and under the real clock in the pty server.
//
// What the model simulates:
// - 384 beams, each ending on a 12-bit channel. A channel's steady level grows smoothly and
//   monotonically with its register setting, read as the counter PinHole x 8 + Gain (Gain is
//   the fast digit), times the channel's transmission. Noise (per-channel standard deviation)
//   and a mains ripple (per-channel amplitude) ride on the level. A channel can be dead (always
//   about 0) or saturated (always 4095).
// - Animals: every channel sees beam crossings at a seeded, reproducible random rate taken from
//   its well's activity (crossings per second, shared among the well's channels). A crossing
//   dips the channel's level for a moment (a smooth dip of configurable depth and duration).
//   A day-night rhythm and a dose given at a set time scale each well's rate over time.
// - Temperature: ambient 22 C; with control on, heat mode warms towards a high limit and cool
//   mode cools towards a low limit at a fraction of a degree per minute; otherwise the plate
//   drifts back to ambient. The raw byte answered to a temperature query is the sensor's
//   response, which the initial sensor registers 0..7 describe (a factory calibration that
//   fits the sensor); writing other values into the registers changes what the host reads
//   back from them, not the sensor.
// - A store of the channel settings (ChannelSetting = Gain x 32 + PinHole, per channel) and of
//   the sensor block, optionally persisted to a file so a restart keeps them.
// - The serial number, answered to a null frame while RTS and DTR are both raised; without
//   both lines the null frame gets no answer and only resynchronises the frame parser.
// - Fault injection: silence, short blocks, bad high bytes, wrong write echoes, extra reply
//   delay, an unplugged cable and blocked columns or rows of beams.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/channels.h"
#include "core/device/command_set.h"

namespace lumivo::sim {

// The frames, command codes, reply lengths and output bits are the instrument's own, named once
// in core/device/command_set.h for both sides of the line.
inline constexpr int kSensorBlockSize = 128;    // addresses 0x80..0xFF of the bank-0 store
inline constexpr int kSensorRegisterCount = 8;  // registers 0..7 hold the sensor calibration
inline constexpr int kFullScale = 4095;
// The channel grid: channel c lies in row c mod 16 and column c / 16.
inline constexpr int kGridRows = 16;
inline constexpr int kGridColumns = 24;
// One byte on the line: start bit, 8 data bits, stop bit at 115200 baud.
inline constexpr double kByteTimeUs = 10.0 * 1'000'000.0 / 115200.0;  // 86.806 us

// Modem lines as the host names them.
inline constexpr int kLineBreak = 1;
inline constexpr int kLineDtr = 2;
inline constexpr int kLineRts = 3;

// A fault count of kAlways means "every time until changed".
inline constexpr int kAlways = -1;

enum class ChannelKind {
    kNormal,     // level follows transmission and setting
    kDead,       // no light reaches the detector: reads about 0 whatever the setting
    kSaturated,  // the detector is stuck at full scale: reads 4095 whatever the setting
};

struct ChannelModel {
    ChannelKind kind = ChannelKind::kNormal;
    // Fraction of the nominal beam that reaches the detector (1.0 = a typical beam). A normal
    // channel can be calibrated into the 40..45 % window for transmissions of about 0.15 to 3.
    double transmission = 1.0;
    double noise = 3.0;           // standard deviation of the white noise, in counts
    double ripple = 2.0;          // amplitude of the mains ripple, in counts
    double activity_scale = 1.0;  // multiplies the channel's share of its well's crossing rate
};

struct FaultConfig {
    bool silent = false;     // frames are heard and acted on, but nothing is ever answered
    bool unplugged = false;  // nothing reaches the instrument and nothing comes back
    // The next `short_blocks` channel-block replies (kAlways: all) carry only
    // `short_block_bytes` bytes.
    int short_blocks = 0;
    int short_block_bytes = kBlockReplyBytes - 1;
    // The next `high_byte_blocks` channel-block replies (kAlways: all) carry a high byte above
    // 15 in sample `high_byte_sample` (0..95).
    int high_byte_blocks = 0;
    int high_byte_sample = 0;
    // The first `bad_echo_writes` store writes (kAlways: all) echo a wrong byte and are not
    // stored (the instrument garbled them).
    int bad_echo_writes = 0;
    // Register writes to these channels (0..383) always echo a wrong byte and are not stored:
    // channels whose register no longer answers, while the others work.
    std::vector<int> bad_echo_channels;
    // Added to the think time before every reply.
    std::int64_t extra_delay_us = 0;
    // Columns (0..23) and rows (0..15) of the 16 x 24 channel grid whose beams are blocked
    // (something in the slot): no light reaches those channels, which read about 0 whatever
    // their setting. Channel c lies in row c mod 16 and column c / 16.
    std::vector<int> blocked_columns;
    std::vector<int> blocked_rows;
};

struct SimConfig {
    int serial_number = 123;              // answered to the serial-number request (RTS+DTR raised)
    std::uint64_t seed = 1;               // everything random (noise, animals) derives from it
    bool paced = true;                    // reply bytes arrive at the 115200-baud line rate
    std::int64_t reply_latency_us = 100;  // instrument think time before the first reply byte

    // Beams. `transmission_spread` adds a seeded per-channel variation of the transmission
    // (uniform, +-spread relative); 0 keeps the configured transmissions exactly.
    std::array<ChannelModel, kChannelCount> channels{};
    double transmission_spread = 0.15;
    double ripple_hz = 50.0;
    // Register setting every channel holds before anything is written or loaded
    // (PinHole 2, Gain 3).
    std::uint8_t initial_setting = 3 * 32 + 2;

    // Animals. `channel_well[c]` is the well of channel c (empty: every channel is its own well;
    // a negative entry: the channel's beam crosses no well and sees no animals). Wells are
    // numbered from 0; `well_activity[w]` is the crossing rate of well w in crossings per
    // second; wells without an entry use `default_activity`.
    std::vector<int> channel_well;
    std::vector<double> well_activity;
    double default_activity = 0.2;
    double crossing_depth = 0.4;          // mean fractional dip of a crossing (0..1)
    double crossing_duration_ms = 300.0;  // mean duration of a crossing

    // A day-night rhythm of the animals (period_hours 0: none). A well crosses its beams at its
    // activity rate during the active part of each cycle (active_hours long, the first one
    // beginning phase_hours after the first contact with the host) and at rest_fraction of that
    // rate for the rest of the cycle. Each well's period differs from period_hours by a seeded
    // amount within +-period_spread_hours, as animals free-running in constant conditions do.
    struct Rhythm {
        double period_hours = 0.0;
        double active_hours = 12.0;
        double phase_hours = 0.0;
        double rest_fraction = 0.1;
        double period_spread_hours = 0.0;
    };
    Rhythm rhythm;

    // A dose given to the animals. From dose_at_hours after the first contact with the host each
    // well crosses its beams at well_dose_share[w] (0..1) of the rate it had before (on top of
    // the rhythm); wells without an entry keep their rate. An empty list: no dose.
    double dose_at_hours = 0.0;
    std::vector<double> well_dose_share;

    // Temperature, degrees Celsius and seconds.
    double ambient_c = 22.0;
    double initial_temperature_c = 22.0;
    double heat_limit_c = 45.0;  // where control + heat would end up
    double cool_limit_c = 8.0;   // where control + cool would end up
    // Time constants of the exponential approach: with control on (about 0.5 C/min from
    // ambient) and with control off (drift back to ambient).
    double active_time_constant_s = 2760.0;
    double passive_time_constant_s = 3600.0;

    // Sensor block registers 0..7: marker 0, month, year, offset sign, offset tenths, slope low,
    // slope high, unused. The default is a valid calibration: slope 0.219, offset 0. The sensor
    // responds as these initial registers say (an invalid block: as the defaults).
    std::array<std::uint8_t, kSensorRegisterCount> sensor_registers{0, 1, 24, 0, 0, 219, 0, 0};

    // When not empty: the store (channel settings and sensor block) is loaded from this file at
    // construction when the file exists, and saved to it after every change.
    std::filesystem::path store_path;

    // A partly received frame is dropped when no byte follows for this long.
    std::int64_t frame_timeout_us = 100'000;

    FaultConfig faults;
};

// Counters for tests and diagnostics.
struct InstrumentStats {
    std::uint64_t frames = 0;           // complete frames received
    std::uint64_t unknown_frames = 0;   // complete frames with no known meaning (not answered)
    std::uint64_t discarded_bytes = 0;  // bytes dropped while looking for a frame
    std::uint64_t lost_bytes = 0;       // bytes lost to an unplugged cable or a break
    std::uint64_t replies = 0;          // replies queued (whatever their length)
    std::uint64_t store_writes = 0;     // store writes accepted
};

class Instrument {
  public:
    // Throws std::runtime_error when the configuration is unusable (serial number out of
    // range, wrong channel-well map size) or the store file exists but cannot be read.
    explicit Instrument(SimConfig config = {});

    // ---- The host side of the serial line -------------------------------------------------
    // The host wrote `bytes`; the last of them finished arriving at `now_us` (host time base,
    // microseconds). Complete 5-byte frames are answered by queueing reply bytes with their
    // arrival times.
    void HostWrite(std::span<const std::uint8_t> bytes, std::int64_t now_us);
    // Modem lines set by the host: 1 = break, 2 = DTR, 3 = RTS (other numbers are ignored).
    // Raising break drops a half-received frame; bytes written while break is on are lost.
    void HostSetLine(int line, bool on, std::int64_t now_us);
    // The host purged its queues: reply bytes not yet taken are discarded and a half-received
    // frame is dropped.
    void HostPurge(std::int64_t now_us);
    // Takes up to `max` reply bytes whose arrival time is <= now_us; returns how many.
    std::size_t HostRead(std::uint8_t* out, std::size_t max, std::int64_t now_us);
    // Arrival time of the next reply byte not yet taken, or nullopt when none is pending.
    std::optional<std::int64_t> NextArrival() const;
    // Number of reply bytes queued and not yet taken (whether or not they have arrived).
    std::size_t PendingReplyBytes() const { return replies_.size(); }

    // ---- Faults ------------------------------------------------------------------------------
    FaultConfig& Faults() { return config_.faults; }
    const FaultConfig& Faults() const { return config_.faults; }
    // Pulling the cable: pending replies and a half-received frame are lost; until Replug()
    // nothing is heard or answered.
    void Unplug();
    void Replug();
    bool Unplugged() const { return config_.faults.unplugged; }

    // ---- Inspection and direct manipulation (tests, the server's console) -------------------
    const SimConfig& Config() const { return config_; }
    const InstrumentStats& Stats() const { return stats_; }
    int SerialNumber() const { return config_.serial_number; }
    void SetSerialNumber(int serial);  // 0..65279 (hi x 255 + lo); throws otherwise
    bool Line(int line) const;

    std::uint8_t ChannelSetting(int channel) const;
    void SetChannelSetting(int channel, std::uint8_t value);
    static int PinHoleOf(std::uint8_t setting) { return setting & 31; }
    static int GainOf(std::uint8_t setting) { return setting >> 5; }
    // Sensor block: register r (0..127) lives at store address 0x80 + r.
    std::uint8_t SensorRegister(int reg) const;
    void SetSensorRegister(int reg, std::uint8_t value);
    // The calibration decoded from registers 0..7 the way the host decodes it; an invalid
    // block gives the defaults 0.219 and 0.
    double SensorSlope() const;
    double SensorOffset() const;

    int OutputMask() const { return output_mask_; }
    bool LightOn() const { return (output_mask_ & kOutputLight) != 0; }

    // Moves the temperature model (and nothing else) to `now_us`.
    void AdvanceTo(std::int64_t now_us);
    // Plate temperature at the last time the model saw.
    double TemperatureC() const { return temperature_c_; }
    void SetTemperatureC(double celsius) { temperature_c_ = celsius; }
    // The raw byte a temperature query answers now: round((T - offset) / slope), 0..255, with
    // the slope and offset of the initial sensor registers.
    std::uint8_t RawTemperature() const;

    // Steady level of a channel (no noise, ripple or animals) at its current setting, or at a
    // given PinHole/Gain, clamped to 0..4095.
    double BeamLevel(int channel) const;
    double BeamLevelAt(int channel, int pinhole, int gain) const;
    // The 12-bit value a block read at `now_us` reports for a channel. Deterministic: the same
    // seed, channel and time always give the same value, whatever was read before.
    std::uint16_t Sample(int channel, std::int64_t now_us);
    // Crossings that began on a channel up to `now_us`.
    std::uint64_t CrossingsStarted(int channel, std::int64_t now_us);
    // The period of a well's rhythm in hours (0 without a rhythm).
    double WellPeriodHours(int well) const;

    // Store persistence (also used automatically when config.store_path is set). Return false
    // and fill `error` when the file cannot be read or written or is malformed.
    bool LoadStore(const std::filesystem::path& path, std::string* error = nullptr);
    bool SaveStore(const std::filesystem::path& path, std::string* error = nullptr) const;
    // The last automatic save failure (empty when the last save worked).
    const std::string& LastStoreError() const { return store_error_; }

  private:
    struct PendingByte {
        std::uint8_t value;
        std::int64_t arrival_us;
    };
    struct Crossing {
        std::int64_t start_us;  // relative to the epoch
        std::int64_t duration_us;
        double depth;
    };
    struct AnimalTrack {
        bool started = false;
        std::uint64_t rng = 0;
        std::int64_t next_start_us = 0;  // relative to the epoch
        std::uint64_t count = 0;         // crossings begun so far
        std::deque<Crossing> active;
    };

    std::int64_t Relative(std::int64_t now_us);
    void Receive(std::uint8_t byte, std::int64_t now_us);
    void HandleFrame(const std::array<std::uint8_t, 5>& frame, std::int64_t now_us);
    void QueueReply(std::span<const std::uint8_t> bytes, std::int64_t now_us);
    void AnswerBlock(std::uint8_t first, std::int64_t now_us);
    void AnswerRead(std::uint8_t bank, std::uint8_t address, std::int64_t now_us);
    void AnswerWrite(std::uint8_t bank, std::uint8_t address, std::uint8_t value,
                     std::int64_t now_us);
    void AutoSave();
    double ChannelRate(int channel) const;
    bool Blocked(int channel) const;
    void AdvanceAnimals(int channel, std::int64_t rel_us);
    double DipAt(int channel, std::int64_t rel_us);
    // The share of a well's rate at a time, and its integral over [a, b) in seconds.
    double RhythmShare(int well, std::int64_t rel_us) const;
    double RhythmSeconds(int well, std::int64_t a_us, std::int64_t b_us) const;
    // Whether a dose changes a well's rate, and the share of its rate at a time.
    bool Dosed(int well) const;
    double DoseShare(int well, std::int64_t rel_us) const;

    SimConfig config_;
    InstrumentStats stats_;

    // Frame parser.
    std::array<std::uint8_t, 5> frame_{};
    std::size_t frame_len_ = 0;
    std::int64_t last_byte_us_ = 0;

    // Reply queue and the time the instrument's transmitter is next free.
    std::deque<PendingByte> replies_;
    std::int64_t line_free_us_ = 0;

    // Time bookkeeping: the first time seen is the epoch of everything random.
    bool have_epoch_ = false;
    std::int64_t epoch_us_ = 0;
    std::int64_t last_now_us_ = 0;

    bool dtr_ = false;
    bool rts_ = false;
    bool break_ = false;

    std::array<std::uint8_t, kChannelCount> settings_{};
    std::array<std::uint8_t, kSensorBlockSize> sensor_block_{};
    std::array<std::uint8_t, kSensorBlockSize> sensor_response_{};  // the initial block
    std::array<double, kChannelCount> transmission_{};
    std::array<double, kChannelCount> ripple_phase_{};
    std::vector<int> well_of_;            // per channel, -1 = no well
    std::vector<int> channels_in_well_;   // per well
    std::vector<double> well_period_us_;  // per well, the rhythm's period
    std::int64_t dose_us_ = 0;            // the dose time, relative to the epoch
    std::array<AnimalTrack, kChannelCount> tracks_{};

    int output_mask_ = 0;
    double temperature_c_ = 22.0;
    std::int64_t temperature_time_us_ = 0;
    bool temperature_time_set_ = false;

    std::string store_error_;
};

}  // namespace lumivo::sim
