#include "sim/instrument.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace lumivo::sim {
namespace {

// Level of a typical beam (transmission 1) with the register at 0, and the growth per step of
// the setting counter PinHole x 8 + Gain. With these a typical beam reads about 1740 (inside
// the 1638..1843 calibration window) around PinHole 3, Gain 4, and one step changes the level by
// 5.7 %, less than half the width of the window, so a one-step-at-a-time search always lands
// in it.
constexpr double kLevelAtZero = 373.0;
constexpr double kStepGrowth = 0.055;

// A crossing never blanks a beam completely.
constexpr double kMaxDip = 0.95;
// Longest stretch of animal history replayed event by event; older history is summarised.
constexpr std::int64_t kCatchUpUs = 3600LL * 1'000'000;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max() / 4;

constexpr double kDefaultSlope = 0.219;
constexpr double kDefaultOffset = 0.0;

// Domain tags so that the random streams of one channel do not coincide.
constexpr std::uint64_t kTagTransmission = 0x7472616e73ULL;
constexpr std::uint64_t kTagRipple = 0x726970706cULL;
constexpr std::uint64_t kTagNoise = 0x6e6f697365ULL;
constexpr std::uint64_t kTagAnimal = 0x616e696d6cULL;
constexpr std::uint64_t kTagRhythm = 0x7268797468ULL;
constexpr double kMicrosPerHour = 3600.0 * 1e6;
// The latest dose time, far below the model's "never" in microseconds.
constexpr double kMaxDoseHours = 100000.0;

constexpr char kStoreHeader[] = "lumivo-sim store 1";

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t Key(std::uint64_t seed, std::uint64_t tag, int channel) {
    return Mix(Mix(seed ^ tag) ^ Mix(static_cast<std::uint64_t>(channel) + 1));
}

// Uniform in [0, 1).
double Unit(std::uint64_t h) {
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

// Uniform in (0, 1].
double UnitOpen(std::uint64_t h) {
    return (static_cast<double>(h >> 11) + 1.0) * 0x1.0p-53;
}

double Gaussian(std::uint64_t h) {
    const double u1 = UnitOpen(h);
    const double u2 = Unit(Mix(h));
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

// Steps a per-channel generator and returns a fresh value.
std::uint64_t Next(std::uint64_t& state) {
    state += 0x9e3779b97f4a7c15ULL;
    return Mix(state);
}

bool ValidChannel(int channel) {
    return channel >= 0 && channel < kChannelCount;
}

void CheckChannel(int channel) {
    if (!ValidChannel(channel)) {
        throw std::out_of_range("channel out of range: " + std::to_string(channel));
    }
}

bool FiniteIn(double v, double lo, double hi) {
    return std::isfinite(v) && v >= lo && v <= hi;
}

void Validate(const SimConfig& c) {
    auto fail = [](const std::string& what) { throw std::invalid_argument("simulator: " + what); };
    if (c.serial_number < 0 || c.serial_number > 255 * 255 + 254) {
        fail("serial number must be 0..65279");
    }
    if (c.reply_latency_us < 0 || c.faults.extra_delay_us < 0) fail("negative reply delay");
    if (!FiniteIn(c.transmission_spread, 0.0, 0.9)) fail("transmission spread must be 0..0.9");
    if (!FiniteIn(c.ripple_hz, 0.0, 1e6)) fail("bad ripple frequency");
    for (const ChannelModel& m : c.channels) {
        if (!FiniteIn(m.transmission, 0.0, 1e6) || !FiniteIn(m.noise, 0.0, 4095.0) ||
            !FiniteIn(m.ripple, 0.0, 4095.0) || !FiniteIn(m.activity_scale, 0.0, 1e6)) {
            fail("bad channel model");
        }
    }
    if (!c.channel_well.empty()) {
        if (c.channel_well.size() != kChannelCount) fail("channel-well map needs 384 entries");
        for (int w : c.channel_well) {
            if (w >= 100000) fail("well number too large");
        }
    }
    for (double a : c.well_activity) {
        if (!FiniteIn(a, 0.0, 1000.0)) fail("well activity must be 0..1000 crossings/s");
    }
    if (!FiniteIn(c.default_activity, 0.0, 1000.0)) fail("default activity must be 0..1000");
    if (!FiniteIn(c.crossing_depth, 0.0, 1.0)) fail("crossing depth must be 0..1");
    if (!FiniteIn(c.crossing_duration_ms, 1.0, 60000.0)) fail("crossing duration 1..60000 ms");
    if (!FiniteIn(c.ambient_c, -50.0, 150.0) || !FiniteIn(c.initial_temperature_c, -50.0, 150.0) ||
        !FiniteIn(c.heat_limit_c, -50.0, 150.0) || !FiniteIn(c.cool_limit_c, -50.0, 150.0)) {
        fail("temperatures must be -50..150 C");
    }
    if (!FiniteIn(c.active_time_constant_s, 1.0, 1e9) ||
        !FiniteIn(c.passive_time_constant_s, 1.0, 1e9)) {
        fail("time constants must be at least 1 s");
    }
    const SimConfig::Rhythm& r = c.rhythm;
    if (r.period_hours != 0.0 && !FiniteIn(r.period_hours, 1.0, 1000.0))
        fail("rhythm period must be 0 (none) or 1..1000 hours");
    if (r.period_hours != 0.0 &&
        (!FiniteIn(r.active_hours, 0.0, r.period_hours) || !FiniteIn(r.rest_fraction, 0.0, 1.0) ||
         !FiniteIn(r.phase_hours, -1000.0, 1000.0) ||
         !FiniteIn(r.period_spread_hours, 0.0, r.period_hours / 2))) {
        fail(
            "rhythm: active 0..period hours, rest fraction 0..1, phase -1000..1000 hours, "
            "spread 0..period/2 hours");
    }
    if (!FiniteIn(c.dose_at_hours, 0.0, kMaxDoseHours)) {
        fail("dose time must be 0..100000 hours after the start");
    }
    for (std::size_t w = 0; w < c.well_dose_share.size(); ++w) {
        if (!FiniteIn(c.well_dose_share[w], 0.0, 1.0)) {
            fail("dose share of well " + std::to_string(w) + " must be 0..1");
        }
    }
    if (c.frame_timeout_us <= 0) fail("frame timeout must be positive");
    if (c.faults.high_byte_sample < 0 || c.faults.high_byte_sample >= kBlockReplyBytes / 2) {
        fail("high-byte sample must be 0..95");
    }
    for (int column : c.faults.blocked_columns) {
        if (column < 0 || column >= kGridColumns) fail("blocked column must be 0..23");
    }
    for (int row : c.faults.blocked_rows) {
        if (row < 0 || row >= kGridRows) fail("blocked row must be 0..15");
    }
}

// Consumes one use of a counted fault: kAlways stays, a positive count goes down.
bool TakeFault(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
}

}  // namespace

Instrument::Instrument(SimConfig config) : config_(std::move(config)) {
    Validate(config_);
    settings_.fill(config_.initial_setting);
    sensor_block_.fill(0);
    std::copy(config_.sensor_registers.begin(), config_.sensor_registers.end(),
              sensor_block_.begin());
    // The sensor itself: its response is what the factory calibration says, whatever is
    // written into the registers later (or kept from an earlier run in the store).
    sensor_response_ = sensor_block_;
    temperature_c_ = config_.initial_temperature_c;
    line_free_us_ = std::numeric_limits<std::int64_t>::min() / 4;

    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const double u = Unit(Key(config_.seed, kTagTransmission, c));
        transmission_[i] = config_.channels[i].transmission *
                           (1.0 + config_.transmission_spread * (2.0 * u - 1.0));
        ripple_phase_[i] = 2.0 * std::numbers::pi * Unit(Key(config_.seed, kTagRipple, c));
    }

    well_of_.resize(kChannelCount);
    int max_well = -1;
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        well_of_[i] = config_.channel_well.empty() ? c : config_.channel_well[i];
        max_well = std::max(max_well, well_of_[i]);
    }
    channels_in_well_.assign(static_cast<std::size_t>(max_well + 1), 0);
    for (int w : well_of_) {
        if (w >= 0) ++channels_in_well_[static_cast<std::size_t>(w)];
    }
    well_period_us_.assign(channels_in_well_.size(), config_.rhythm.period_hours * kMicrosPerHour);
    for (std::size_t w = 0; w < well_period_us_.size(); ++w) {
        const double u = Unit(Key(config_.seed, kTagRhythm, static_cast<int>(w)));
        well_period_us_[w] += config_.rhythm.period_spread_hours * (2.0 * u - 1.0) * kMicrosPerHour;
    }

    dose_us_ = std::llround(config_.dose_at_hours * kMicrosPerHour);

    if (!config_.store_path.empty() && std::filesystem::exists(config_.store_path)) {
        std::string error;
        if (!LoadStore(config_.store_path, &error)) throw std::runtime_error(error);
    }
}

// ---- Host side ------------------------------------------------------------------------------

std::int64_t Instrument::Relative(std::int64_t now_us) {
    if (!have_epoch_) {
        have_epoch_ = true;
        epoch_us_ = now_us;
        last_now_us_ = now_us;
    }
    // Time never runs backwards for the model; a late caller sees the latest time.
    last_now_us_ = std::max(last_now_us_, now_us);
    return last_now_us_ - epoch_us_;
}

void Instrument::HostWrite(std::span<const std::uint8_t> bytes, std::int64_t now_us) {
    if (config_.faults.unplugged || break_) {
        stats_.lost_bytes += bytes.size();
        return;
    }
    for (std::uint8_t b : bytes) Receive(b, now_us);
}

void Instrument::Receive(std::uint8_t byte, std::int64_t now_us) {
    if (frame_len_ > 0 && now_us - last_byte_us_ > config_.frame_timeout_us) {
        stats_.discarded_bytes += frame_len_;
        frame_len_ = 0;
    }
    last_byte_us_ = now_us;
    if (frame_len_ == 0) {
        if (byte == 0xFF) {
            frame_[0] = byte;
            frame_len_ = 1;
        } else {
            ++stats_.discarded_bytes;
        }
        return;
    }
    frame_[frame_len_++] = byte;
    if (frame_len_ < frame_.size()) return;
    if (frame_[4] == 0xF0) {
        frame_len_ = 0;
        HandleFrame(frame_, now_us);
        return;
    }
    // Not a frame: drop the start byte and look for the next 0xFF among the bytes held, so a
    // stray byte costs at most one frame.
    std::size_t k = 1;
    while (k < frame_.size() && frame_[k] != 0xFF) ++k;
    stats_.discarded_bytes += k;
    std::copy(frame_.begin() + static_cast<std::ptrdiff_t>(k), frame_.end(), frame_.begin());
    frame_len_ = frame_.size() - k;
}

void Instrument::HostSetLine(int line, bool on, std::int64_t now_us) {
    (void)Relative(now_us);
    switch (line) {
        case kLineBreak:
            if (on && frame_len_ > 0) {
                stats_.discarded_bytes += frame_len_;
                frame_len_ = 0;
            }
            break_ = on;
            break;
        case kLineDtr:
            dtr_ = on;
            break;
        case kLineRts:
            rts_ = on;
            break;
        default:
            break;
    }
}

void Instrument::HostPurge(std::int64_t now_us) {
    replies_.clear();
    line_free_us_ = std::min(line_free_us_, now_us);
    stats_.discarded_bytes += frame_len_;
    frame_len_ = 0;
}

std::size_t Instrument::HostRead(std::uint8_t* out, std::size_t max, std::int64_t now_us) {
    if (config_.faults.unplugged) return 0;
    std::size_t n = 0;
    while (n < max && !replies_.empty() && replies_.front().arrival_us <= now_us) {
        out[n++] = replies_.front().value;
        replies_.pop_front();
    }
    return n;
}

std::optional<std::int64_t> Instrument::NextArrival() const {
    if (replies_.empty() || config_.faults.unplugged) return std::nullopt;
    return replies_.front().arrival_us;
}

void Instrument::QueueReply(std::span<const std::uint8_t> bytes, std::int64_t now_us) {
    if (config_.faults.silent || bytes.empty()) return;
    ++stats_.replies;
    const std::int64_t start =
        std::max(now_us + config_.reply_latency_us + config_.faults.extra_delay_us, line_free_us_);
    std::int64_t arrival = start;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (config_.paced) {
            arrival = start + std::llround(static_cast<double>(i + 1) * kByteTimeUs);
        }
        replies_.push_back({bytes[i], arrival});
    }
    line_free_us_ = arrival;
}

// ---- Frames ---------------------------------------------------------------------------------

void Instrument::HandleFrame(const std::array<std::uint8_t, 5>& frame, std::int64_t now_us) {
    ++stats_.frames;
    AdvanceTo(now_us);
    const std::uint8_t b1 = frame[1];
    const std::uint8_t b2 = frame[2];
    const std::uint8_t b3 = frame[3];

    if (b1 == 0x80 || b1 == 0x81) {
        AnswerWrite(b1, b2, b3, now_us);
        return;
    }
    if ((b1 == 0x00 || b1 == 0x01) && b2 == kCodeReadStoredByte) {
        AnswerRead(b1, b3, now_us);
        return;
    }
    if (b1 != 0x00) {
        ++stats_.unknown_frames;
        return;
    }
    switch (b2) {
        case kCodeReadChannelBlock:
            AnswerBlock(b3, now_us);
            break;
        case kCodeSetOutputs:
            output_mask_ = b3 & 7;
            break;
        case kCodeReadTemperature: {
            const std::uint8_t raw = RawTemperature();
            QueueReply(std::span(&raw, 1), now_us);
            break;
        }
        case kCodeNull:
            // The serial-number request is a null frame sent with RTS and DTR raised; without
            // the lines the null frame only resynchronises the parser and is not answered.
            if (b3 == 0 && dtr_ && rts_) {
                const std::array<std::uint8_t, 2> reply{
                    static_cast<std::uint8_t>(config_.serial_number / 255),
                    static_cast<std::uint8_t>(config_.serial_number % 255)};
                QueueReply(reply, now_us);
            } else if (b3 != 0) {
                ++stats_.unknown_frames;
            }
            break;
        default:
            ++stats_.unknown_frames;
            break;
    }
}

void Instrument::AnswerBlock(std::uint8_t first, std::int64_t now_us) {
    std::array<std::uint8_t, kBlockReplyBytes> bytes{};
    for (int t = 0; t < 32; ++t) {
        for (int j = 0; j < 3; ++j) {
            const int channel = first + t + 128 * j;
            const std::uint16_t v = ValidChannel(channel) ? Sample(channel, now_us) : 0;
            const auto k = static_cast<std::size_t>(2 * (3 * t + j));
            bytes[k] = static_cast<std::uint8_t>(v >> 8);
            bytes[k + 1] = static_cast<std::uint8_t>(v & 0xFF);
        }
    }
    FaultConfig& f = config_.faults;
    if (TakeFault(f.high_byte_blocks)) {
        const auto k = static_cast<std::size_t>(2 * f.high_byte_sample);
        bytes[k] = static_cast<std::uint8_t>(0x10 | bytes[k]);
    }
    std::size_t length = bytes.size();
    if (TakeFault(f.short_blocks)) {
        length = static_cast<std::size_t>(std::clamp(f.short_block_bytes, 0, kBlockReplyBytes));
    }
    QueueReply(std::span(bytes.data(), length), now_us);
}

void Instrument::AnswerRead(std::uint8_t bank, std::uint8_t address, std::int64_t now_us) {
    std::uint8_t value = 0;
    if (bank == 0x01) {
        value = settings_[static_cast<std::size_t>(128 + address)];
    } else if (address < 128) {
        value = settings_[address];
    } else {
        value = sensor_block_[static_cast<std::size_t>(address - 128)];
    }
    QueueReply(std::span(&value, 1), now_us);
}

void Instrument::AnswerWrite(std::uint8_t bank, std::uint8_t address, std::uint8_t value,
                             std::int64_t now_us) {
    // Channel c is bank 0x80 with address c (c < 128) or bank 0x81 with address c - 128;
    // bank 0x80 addresses from 0x80 on are the sensor block.
    const int channel = bank == 0x81 ? 128 + address : (address < 128 ? address : -1);
    const auto& bad = config_.faults.bad_echo_channels;
    const bool bad_channel =
        channel >= 0 && std::find(bad.begin(), bad.end(), channel) != bad.end();
    if (bad_channel || TakeFault(config_.faults.bad_echo_writes)) {
        const auto wrong = static_cast<std::uint8_t>(address ^ 0x5A);
        QueueReply(std::span(&wrong, 1), now_us);
        return;
    }
    std::uint8_t* cell = nullptr;
    if (bank == 0x81) {
        cell = &settings_[static_cast<std::size_t>(128 + address)];
    } else if (address < 128) {
        cell = &settings_[address];
    } else {
        cell = &sensor_block_[static_cast<std::size_t>(address - 128)];
    }
    ++stats_.store_writes;
    const bool changed = *cell != value;
    *cell = value;
    if (changed) AutoSave();
    QueueReply(std::span(&address, 1), now_us);
}

// ---- Faults and inspection ------------------------------------------------------------------

void Instrument::Unplug() {
    config_.faults.unplugged = true;
    replies_.clear();
    frame_len_ = 0;
}

void Instrument::Replug() {
    config_.faults.unplugged = false;
    replies_.clear();
    frame_len_ = 0;
}

void Instrument::SetSerialNumber(int serial) {
    if (serial < 0 || serial > 255 * 255 + 254) {
        throw std::invalid_argument("serial number must be 0..65279");
    }
    config_.serial_number = serial;
}

bool Instrument::Line(int line) const {
    switch (line) {
        case kLineBreak:
            return break_;
        case kLineDtr:
            return dtr_;
        case kLineRts:
            return rts_;
        default:
            return false;
    }
}

std::uint8_t Instrument::ChannelSetting(int channel) const {
    CheckChannel(channel);
    return settings_[static_cast<std::size_t>(channel)];
}

void Instrument::SetChannelSetting(int channel, std::uint8_t value) {
    CheckChannel(channel);
    settings_[static_cast<std::size_t>(channel)] = value;
    AutoSave();
}

std::uint8_t Instrument::SensorRegister(int reg) const {
    if (reg < 0 || reg >= kSensorBlockSize) throw std::out_of_range("sensor register");
    return sensor_block_[static_cast<std::size_t>(reg)];
}

void Instrument::SetSensorRegister(int reg, std::uint8_t value) {
    if (reg < 0 || reg >= kSensorBlockSize) throw std::out_of_range("sensor register");
    sensor_block_[static_cast<std::size_t>(reg)] = value;
    AutoSave();
}

namespace {

struct SensorCalibration {
    double slope = kDefaultSlope;
    double offset = kDefaultOffset;
};

// Decodes registers 0..7 with the host's validation: any invalid field gives the defaults.
SensorCalibration DecodeSensor(const std::array<std::uint8_t, kSensorBlockSize>& r) {
    const bool fields_ok =
        r[0] == 0 && r[1] >= 1 && r[1] <= 12 && r[2] <= 99 && r[3] <= 1 && r[5] > 0;
    const double offset = (r[3] == 1 ? -1.0 : 1.0) * r[4] / 10.0;
    const double slope = (r[6] * 256.0 + r[5]) / 1000.0;
    if (!fields_ok || offset < -10.0 || offset > 10.0 || slope < 0.1 || slope > 0.45) return {};
    return {slope, offset};
}

}  // namespace

double Instrument::SensorSlope() const {
    return DecodeSensor(sensor_block_).slope;
}

double Instrument::SensorOffset() const {
    return DecodeSensor(sensor_block_).offset;
}

// ---- Temperature ----------------------------------------------------------------------------

void Instrument::AdvanceTo(std::int64_t now_us) {
    const std::int64_t rel = Relative(now_us);
    if (!temperature_time_set_) {
        temperature_time_set_ = true;
        temperature_time_us_ = rel;
        return;
    }
    const double dt_s = static_cast<double>(rel - temperature_time_us_) / 1e6;
    temperature_time_us_ = rel;
    if (dt_s <= 0.0) return;
    double target = config_.ambient_c;
    double tau = config_.passive_time_constant_s;
    if ((output_mask_ & kOutputTemperatureControl) != 0) {
        target = (output_mask_ & kOutputHeat) != 0 ? config_.heat_limit_c : config_.cool_limit_c;
        tau = config_.active_time_constant_s;
    }
    temperature_c_ = target + (temperature_c_ - target) * std::exp(-dt_s / tau);
}

std::uint8_t Instrument::RawTemperature() const {
    const SensorCalibration cal = DecodeSensor(sensor_response_);
    const double raw = std::nearbyint((temperature_c_ - cal.offset) / cal.slope);
    return static_cast<std::uint8_t>(std::clamp(raw, 0.0, 255.0));
}

// ---- Beams and animals ----------------------------------------------------------------------

bool Instrument::Blocked(int channel) const {
    const auto& f = config_.faults;
    return std::find(f.blocked_columns.begin(), f.blocked_columns.end(), channel / kGridRows) !=
               f.blocked_columns.end() ||
           std::find(f.blocked_rows.begin(), f.blocked_rows.end(), channel % kGridRows) !=
               f.blocked_rows.end();
}

double Instrument::BeamLevelAt(int channel, int pinhole, int gain) const {
    CheckChannel(channel);
    const auto i = static_cast<std::size_t>(channel);
    if (Blocked(channel) && config_.channels[i].kind != ChannelKind::kSaturated) return 0.0;
    switch (config_.channels[i].kind) {
        case ChannelKind::kDead:
            return 0.0;
        case ChannelKind::kSaturated:
            return kFullScale;
        case ChannelKind::kNormal:
            break;
    }
    const double step = 8.0 * pinhole + gain;
    return std::min<double>(kFullScale,
                            transmission_[i] * kLevelAtZero * std::exp(kStepGrowth * step));
}

double Instrument::BeamLevel(int channel) const {
    const std::uint8_t s = ChannelSetting(channel);
    return BeamLevelAt(channel, PinHoleOf(s), GainOf(s));
}

double Instrument::ChannelRate(int channel) const {
    const auto i = static_cast<std::size_t>(channel);
    const int well = well_of_[i];
    if (well < 0) return 0.0;
    const auto w = static_cast<std::size_t>(well);
    const double well_rate =
        w < config_.well_activity.size() ? config_.well_activity[w] : config_.default_activity;
    return well_rate / channels_in_well_[w] * config_.channels[i].activity_scale;
}

double Instrument::WellPeriodHours(int well) const {
    if (config_.rhythm.period_hours <= 0.0 || well < 0 ||
        static_cast<std::size_t>(well) >= well_period_us_.size())
        return 0.0;
    return well_period_us_[static_cast<std::size_t>(well)] / kMicrosPerHour;
}

double Instrument::RhythmShare(int well, std::int64_t rel_us) const {
    const SimConfig::Rhythm& r = config_.rhythm;
    const double period = well_period_us_[static_cast<std::size_t>(well)];
    const double t = static_cast<double>(rel_us) - r.phase_hours * kMicrosPerHour;
    const double into = t - std::floor(t / period) * period;
    return into < r.active_hours * kMicrosPerHour ? 1.0 : r.rest_fraction;
}

double Instrument::RhythmSeconds(int well, std::int64_t a_us, std::int64_t b_us) const {
    const SimConfig::Rhythm& r = config_.rhythm;
    const double period = well_period_us_[static_cast<std::size_t>(well)];
    const double active = r.active_hours * kMicrosPerHour;
    // Active microseconds from the first cycle's start up to t.
    const auto active_until = [&](double t) {
        t -= r.phase_hours * kMicrosPerHour;
        const double cycles = std::floor(t / period);
        return cycles * active + std::min(t - cycles * period, active);
    };
    const double span = static_cast<double>(b_us - a_us);
    const double on =
        active_until(static_cast<double>(b_us)) - active_until(static_cast<double>(a_us));
    return (r.rest_fraction * span + (1.0 - r.rest_fraction) * on) / 1e6;
}

bool Instrument::Dosed(int well) const {
    // Only wells whose rate really changes thin their crossings, so the others draw the same
    // random numbers as without a dose.
    return well >= 0 && static_cast<std::size_t>(well) < config_.well_dose_share.size() &&
           config_.well_dose_share[static_cast<std::size_t>(well)] < 1.0;
}

double Instrument::DoseShare(int well, std::int64_t rel_us) const {
    if (!Dosed(well) || rel_us < dose_us_) return 1.0;
    return config_.well_dose_share[static_cast<std::size_t>(well)];
}

void Instrument::AdvanceAnimals(int channel, std::int64_t rel_us) {
    AnimalTrack& track = tracks_[static_cast<std::size_t>(channel)];
    const double rate = ChannelRate(channel);
    const int well = well_of_[static_cast<std::size_t>(channel)];
    const bool rhythmic = config_.rhythm.period_hours > 0.0 && well >= 0;
    const bool dosed = Dosed(well);
    auto interval = [&]() -> std::int64_t {
        if (rate <= 0.0) return kNever;
        const double s = -std::log(UnitOpen(Next(track.rng))) / rate;
        return std::clamp<std::int64_t>(std::llround(s * 1e6), 1, kNever);
    };
    // The share of the rate a candidate crossing at a time is kept with.
    auto keep = [&](std::int64_t t_us) {
        return (rhythmic ? RhythmShare(well, t_us) : 1.0) * DoseShare(well, t_us);
    };
    // Seconds of full rate in [a, b) that the rhythm leaves.
    auto rhythm_seconds = [&](std::int64_t a_us, std::int64_t b_us) {
        if (b_us <= a_us) return 0.0;
        return rhythmic ? RhythmSeconds(well, a_us, b_us) : static_cast<double>(b_us - a_us) / 1e6;
    };
    if (!track.started) {
        track.started = true;
        track.rng = Key(config_.seed, kTagAnimal, channel);
        track.next_start_us = interval();
    }
    // A long jump of time is summarised: the expected number of crossings is counted and the
    // event-by-event history resumes one catch-up span before now.
    if (track.next_start_us < rel_us - kCatchUpUs) {
        const std::int64_t resume = rel_us - kCatchUpUs;
        const std::int64_t from = track.next_start_us;
        // The candidate due at `from`, then the expected number of the rest. Without a dose
        // the candidate counts whole, as it always has, so seeded runs repeat.
        std::uint64_t first = 1;
        double skipped = 0.0;
        if (dosed) {
            // Split at the dose: full rate before it, the well's share after it. The pending
            // candidate is kept with its time's share, like every other.
            const std::int64_t dose = std::clamp(dose_us_, from, resume);
            const double share = config_.well_dose_share[static_cast<std::size_t>(well)];
            skipped = (rhythm_seconds(from, dose) + share * rhythm_seconds(dose, resume)) * rate;
            first = Unit(Next(track.rng)) < keep(from) ? 1 : 0;
        } else {
            skipped = rhythm_seconds(from, resume) * rate;
        }
        track.count += first + static_cast<std::uint64_t>(std::llround(skipped));
        track.active.clear();
        track.next_start_us = resume + interval();
    }
    const double mean_duration_us = config_.crossing_duration_ms * 1000.0;
    while (track.next_start_us <= rel_us) {
        // A rhythm and a dose thin the crossings: a candidate is kept with the share of the
        // rate its time has.
        if ((rhythmic || dosed) && Unit(Next(track.rng)) >= keep(track.next_start_us)) {
            track.next_start_us = std::min(kNever, track.next_start_us + interval());
            continue;
        }
        Crossing x{};
        x.start_us = track.next_start_us;
        x.duration_us = std::max<std::int64_t>(
            1000, std::llround(mean_duration_us * (0.5 + Unit(Next(track.rng)))));
        x.depth = std::min(kMaxDip, config_.crossing_depth * (0.6 + 0.8 * Unit(Next(track.rng))));
        track.active.push_back(x);
        ++track.count;
        track.next_start_us = std::min(kNever, track.next_start_us + interval());
    }
    std::erase_if(track.active,
                  [rel_us](const Crossing& x) { return x.start_us + x.duration_us < rel_us; });
}

double Instrument::DipAt(int channel, std::int64_t rel_us) {
    AdvanceAnimals(channel, rel_us);
    double dip = 0.0;
    for (const Crossing& x : tracks_[static_cast<std::size_t>(channel)].active) {
        if (rel_us < x.start_us) continue;
        const double phase =
            static_cast<double>(rel_us - x.start_us) / static_cast<double>(x.duration_us);
        const double s = std::sin(std::numbers::pi * phase);
        dip += x.depth * s * s;
    }
    return std::min(dip, kMaxDip);
}

std::uint64_t Instrument::CrossingsStarted(int channel, std::int64_t now_us) {
    CheckChannel(channel);
    AdvanceAnimals(channel, Relative(now_us));
    return tracks_[static_cast<std::size_t>(channel)].count;
}

std::uint16_t Instrument::Sample(int channel, std::int64_t now_us) {
    CheckChannel(channel);
    const auto i = static_cast<std::size_t>(channel);
    const ChannelModel& model = config_.channels[i];
    const std::int64_t rel = Relative(now_us);
    if (model.kind == ChannelKind::kSaturated) return kFullScale;

    double level = 0.0;
    if (model.kind == ChannelKind::kNormal && !Blocked(channel)) {
        const std::uint8_t s = settings_[i];
        const double step = 8.0 * PinHoleOf(s) + GainOf(s);
        level = transmission_[i] * kLevelAtZero * std::exp(kStepGrowth * step);
        level *= 1.0 - DipAt(channel, rel);
    }
    const double t_s = static_cast<double>(rel) / 1e6;
    const double ripple = model.ripple * std::sin(2.0 * std::numbers::pi * config_.ripple_hz * t_s +
                                                  ripple_phase_[i]);
    const std::uint64_t h =
        Mix(Key(config_.seed, kTagNoise, channel) ^ static_cast<std::uint64_t>(rel));
    const double value = level + ripple + model.noise * Gaussian(h);
    return static_cast<std::uint16_t>(std::clamp(std::nearbyint(value), 0.0, double{kFullScale}));
}

// ---- Store ----------------------------------------------------------------------------------

bool Instrument::LoadStore(const std::filesystem::path& path, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error != nullptr) *error = "store " + path.string() + ": " + what;
        return false;
    };
    std::ifstream in(path);
    if (!in) return fail("cannot open");
    std::string line;
    if (!std::getline(in, line) || line != kStoreHeader) return fail("not a simulator store");
    auto settings = settings_;
    auto sensor = sensor_block_;
    int line_no = 1;
    while (std::getline(in, line)) {
        ++line_no;
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string kind;
        int index = -1;
        int value = -1;
        std::string rest;
        if (!(fields >> kind >> index >> value) || (fields >> rest) || value < 0 || value > 255) {
            return fail("bad line " + std::to_string(line_no));
        }
        if (kind == "channel" && ValidChannel(index)) {
            settings[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
        } else if (kind == "sensor" && index >= 0 && index < kSensorBlockSize) {
            sensor[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
        } else {
            return fail("bad line " + std::to_string(line_no));
        }
    }
    settings_ = settings;
    sensor_block_ = sensor;
    return true;
}

bool Instrument::SaveStore(const std::filesystem::path& path, std::string* error) const {
    // Written to a temporary file and renamed, so a crash never leaves half a store behind.
    std::filesystem::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << kStoreHeader << '\n';
        for (int c = 0; c < kChannelCount; ++c) {
            out << "channel " << c << ' ' << int{settings_[static_cast<std::size_t>(c)]} << '\n';
        }
        for (int r = 0; r < kSensorBlockSize; ++r) {
            out << "sensor " << r << ' ' << int{sensor_block_[static_cast<std::size_t>(r)]} << '\n';
        }
        out.flush();
        if (!out) {
            if (error != nullptr) *error = "store " + tmp.string() + ": cannot write";
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        if (error != nullptr) *error = "store " + path.string() + ": " + ec.message();
        std::filesystem::remove(tmp, ec);
        return false;
    }
    return true;
}

void Instrument::AutoSave() {
    if (config_.store_path.empty()) return;
    std::string error;
    if (SaveStore(config_.store_path, &error)) {
        store_error_.clear();
    } else {
        store_error_ = error;
    }
}

}  // namespace lumivo::sim
