// COM_Module: the instrument's five-byte command frames (FF b1 b2 b3 F0) and every command the
// program sends, over the ports of ModCOMM. Replies have no framing: one byte for most
// commands, 192 bytes for a channel block, up to 2 bytes for the serial number.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "core/common/channels.h"
#include "core/device/mod_comm.h"
#include "core/platform/ui_port.h"

namespace lumivo {

inline constexpr std::uint8_t kFrameStart = 0xFF;
inline constexpr std::uint8_t kFrameEnd = 0xF0;

// Command codes (b2) and qualifiers (b1).
inline constexpr int kCodeNull = 0x00;
inline constexpr int kCodeSetOutputs = 0x10;
inline constexpr int kCodeReadStoredByte = 0x20;
inline constexpr int kCodeReadTemperature = 0x21;
inline constexpr int kCodeReadChannelBlock = 0x30;
inline constexpr int kQualifierWriteLow = 0x80;   // write: channels 0..127, sensor registers
inline constexpr int kQualifierWriteHigh = 0x81;  // write: channels 128..383
inline constexpr int kQualifierReadHigh = 0x01;   // read: channels 128..383
inline constexpr int kSensorRegisterBase = 0x80;  // sensor register r is address 0x80 + r

// The value of a missing one-byte reply.
inline constexpr int kNoReply = -1;

// The settings text every port of the instrument is opened with.
inline constexpr const char* kInstrumentPortSettings = "baud=115200 parity=N data=8 stop=1";

inline constexpr int kBlockReplyBytes = 192;
inline constexpr int kBlockSamples = 96;
inline constexpr std::array<int, 4> kBlockStarts = {0, 32, 64, 96};

// SetOutputs mask bits.
inline constexpr int kOutputTemperatureControl = 1;
inline constexpr int kOutputHeat = 2;
inline constexpr int kOutputLight = 4;

// The middle bytes of a frame, in SendCommand's argument order: `code` travels in byte 2,
// `parameter` in byte 3, `qualifier` in byte 1.
struct Command {
    int code = 0;
    int parameter = 0;
    int qualifier = 0;
    friend bool operator==(const Command&, const Command&) = default;
};

using CommandFrame = std::array<std::uint8_t, 5>;

// FF, qualifier, code, parameter, F0; each value taken as one byte (its low 8 bits).
CommandFrame BuildCommandFrame(int code, int parameter, int qualifier);
inline CommandFrame BuildCommandFrame(const Command& c) {
    return BuildCommandFrame(c.code, c.parameter, c.qualifier);
}

// The commands of the instrument.
Command ReadChannelBlockCommand(int block_start);  // 0, 32, 64 or 96
Command SetOutputsCommand(int mask);               // 0..7
Command ReadTemperatureCommand();
Command NullFrameCommand();
Command ReadChannelStoredByteCommand(int channel);  // 0..383
Command ReadSensorRegisterCommand(int reg);         // 0..7
Command WriteChannelStoredByteCommand(int channel, int value);
Command WriteSensorRegisterCommand(int reg, int value);

// The temperature sensor's stored calibration, read back when the instrument is connected.
struct SensorCalibrationBlock {
    double slope = 0.219;     // degrees per sensor step
    double offset = 0.0;      // degrees added after scaling
    int month = -1;           // register 1 as read, 1..12 when valid
    int year = -1;            // register 2 as read, two digits
    bool calibrated = false;  // the registers were read back valid
    std::array<int, 8> registers{-1, -1, -1, -1, -1, -1, -1, -1};  // -1 = never read
};

inline constexpr double kDefaultSensorSlope = 0.219;
inline constexpr double kDefaultSensorOffset = 0.0;

// The device side of the program: its ports, the port in use, the instrument's identity and
// sensor calibration, and the clock and dialogs the procedures pause and ask through.
struct DeviceLink {
    DeviceLink(Clock& clock_ref, Dialogs& dialogs_ref, TransportOpener opener)
        : ports(clock_ref, std::move(opener)), clock(clock_ref), dialogs(dialogs_ref) {}

    CommPorts ports;
    Clock& clock;
    Dialogs& dialogs;
    std::int16_t ComPortNumber = 1;  // 1..16
    std::int16_t SerialNumber = 0;   // 0 while none was accepted
    SensorCalibrationBlock sensor;
};

// Writes the frame on ComPortNumber. 0 when all 5 bytes were written, -1 otherwise.
int SendCommand(DeviceLink& link, int code, int parameter, int qualifier);
inline int SendCommand(DeviceLink& link, const Command& c) {
    return SendCommand(link, c.code, c.parameter, c.qualifier);
}

// Writes the frame and reads its one-byte reply: -1 when none came, else 0..255. Stale input
// is discarded before the frame goes out, bytes that arrive before the instrument could have
// heard the frame are dropped, the exchange ends as soon as the reply byte is in, and a stray
// byte that came with it is taken away, so it cannot pass for the next reply.
int SendCommandAndRead(DeviceLink& link, int code, int parameter, int qualifier);
inline int SendCommandAndRead(DeviceLink& link, const Command& c) {
    return SendCommandAndRead(link, c.code, c.parameter, c.qualifier);
}

// ---- Channel blocks ----

// Outcome of decoding one block reply.
struct BlockDecode {
    bool accepted = false;  // exactly 192 bytes for a valid block start: samples were stored
    bool bad = false;       // not accepted, or a high byte above 15 was clamped
};

// Decodes a ReadChannelBlock reply for block `block_start` into `channels` (indexed by channel
// number; at least 384 entries). Sample k is bytes 2k (high) and 2k+1 (low); a high byte above
// 15 counts as 15 and marks the block bad. Samples 3t, 3t+1, 3t+2 go to channels
// block_start + t, + t + 128, + t + 256. A reply of any other length, a block start other than
// 0, 32, 64, 96 or a short `channels` leaves `channels` untouched and is not accepted.
BlockDecode DecodeChannelBlock(std::span<const std::uint8_t> reply, int block_start,
                               std::span<std::uint16_t> channels);

enum class BlockReadMode {
    TwoHalves,  // two reads of 96 bytes appended (sampling loop, calibration)
    Whole,      // one read of 192 bytes (blank)
};

struct BlockRead {
    int bytes = 0;  // bytes received
    BlockDecode decode;
};

// Flushes the port, requests block `block_start`, reads the reply (dropping bytes that came
// before the instrument could have heard the request) and decodes it into `channels` when
// exactly 192 bytes came.
BlockRead ReadChannelBlock(DeviceLink& link, int block_start, BlockReadMode mode,
                           std::span<std::uint16_t> channels);

struct SampleRead {
    std::array<BlockRead, 4> blocks;
    bool AllGood() const {
        for (const auto& b : blocks) {
            if (!b.decode.accepted || b.decode.bad) return false;
        }
        return true;
    }
};

// Reads blocks 0, 32, 64, 96 into `channels` (at least 384 entries): one full sample.
SampleRead ReadFullSample(DeviceLink& link, std::span<std::uint16_t> channels,
                          BlockReadMode mode = BlockReadMode::TwoHalves);

// ---- Identity, channel settings, temperature ----

// Asks the instrument on `port` for its serial number with RTS and DTR raised: -1 when nothing
// came, first byte x 255 for one byte, first x 255 + second for two.
int ReadSerialNumber(DeviceLink& link, int port);

// Writes Gain x 32 + PinHole to the channel's register and checks the echo, retrying with
// resynchronising pauses; 1 on success, -1 (after telling the user) on failure. A channel
// outside 0..383 or a setting that does not fit a byte is refused with -1 and nothing sent.
int WriteChannelSetting(DeviceLink& link, int channel, int pin_hole, int gain);

// The message shown when a channel write fails.
std::string ChannelWriteErrorMessage(int channel);

// Reads sensor registers 0..7 into link.sensor, validates them and sets slope, offset,
// month, year and the calibrated flag.
void ReadSensorCalibration(DeviceLink& link);

// Fills slope, offset, month, year and the calibrated flag of `block` from its registers.
void ValidateSensorCalibration(SensorCalibrationBlock& block);

// Requests the raw temperature byte: 0..255, or -1 when nothing came.
int ReadTemperatureRaw(DeviceLink& link);

// Degrees Celsius of a raw temperature byte (a missing reply, -1, converts like any value).
double RawTemperatureToCelsius(int raw, const SensorCalibrationBlock& sensor);

// Switches the outputs; 0 when the frame was written, -1 otherwise.
int SetOutputs(DeviceLink& link, int mask);

}  // namespace lumivo
