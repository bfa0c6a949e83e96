#include "core/device/command_set.h"

#include <algorithm>

namespace lumivo {
namespace {

std::string FrameText(const CommandFrame& f) {
    return std::string(reinterpret_cast<const char*>(f.data()), f.size());
}

bool ValidBlockStart(int block_start) {
    return std::find(kBlockStarts.begin(), kBlockStarts.end(), block_start) != kBlockStarts.end();
}

// Bank bit and address of a channel's register: channels from 128 on are addressed as
// channel - 128 with the bank bit set (so channels 256..383 use addresses 128..255).
struct ChannelAddress {
    int bank;
    int address;
};

ChannelAddress AddressOf(int channel) {
    if (channel > 127) return {1, channel - 128};
    return {0, channel};
}

constexpr int kWriteRepeats = 9;
constexpr int kResyncPauseMs = 150;
constexpr int kSlowWritePauseMs = 100;
constexpr int kRegisterReadPauseMs = 200;
constexpr int kRegisterReadAttempts = 3;
constexpr int kSerialNumberPauseMs = 5;

}  // namespace

CommandFrame BuildCommandFrame(int code, int parameter, int qualifier) {
    return {kFrameStart, static_cast<std::uint8_t>(qualifier & 0xFF),
            static_cast<std::uint8_t>(code & 0xFF), static_cast<std::uint8_t>(parameter & 0xFF),
            kFrameEnd};
}

Command ReadChannelBlockCommand(int block_start) {
    return {kCodeReadChannelBlock, block_start, 0};
}
Command SetOutputsCommand(int mask) {
    return {kCodeSetOutputs, mask, 0};
}
Command ReadTemperatureCommand() {
    return {kCodeReadTemperature, 0, 0};
}
Command NullFrameCommand() {
    return {kCodeNull, 0, 0};
}

Command ReadChannelStoredByteCommand(int channel) {
    const auto a = AddressOf(channel);
    return {kCodeReadStoredByte, a.address, a.bank == 0 ? 0 : kQualifierReadHigh};
}

Command ReadSensorRegisterCommand(int reg) {
    return {kCodeReadStoredByte, kSensorRegisterBase + reg, 0};
}

Command WriteChannelStoredByteCommand(int channel, int value) {
    const auto a = AddressOf(channel);
    return {a.address, value, a.bank == 0 ? kQualifierWriteLow : kQualifierWriteHigh};
}

Command WriteSensorRegisterCommand(int reg, int value) {
    return {kSensorRegisterBase + reg, value, kQualifierWriteLow};
}

int SendCommand(DeviceLink& link, int code, int parameter, int qualifier) {
    const std::string frame = FrameText(BuildCommandFrame(code, parameter, qualifier));
    return CommWrite(link.ports, link.ComPortNumber, frame) == 5 ? 0 : -1;
}

namespace {

// Flushes the port and writes the frame; returns the time before which nothing that arrives
// can be the frame's reply (0 when the line delivers at once).
std::int64_t StartExchange(DeviceLink& link, int port, const CommandFrame& frame) {
    // Anything still queued belongs to an earlier exchange.
    CommFlush(link.ports, port);
    const std::int64_t written_at = link.clock.MonotonicMicros();
    CommWrite(link.ports, port, FrameText(frame));
    const std::int64_t line_time =
        CommLineTimeUs(link.ports, port, static_cast<std::int32_t>(frame.size()));
    return line_time > 0 ? written_at + line_time : 0;
}

}  // namespace

int SendCommandAndRead(DeviceLink& link, int code, int parameter, int qualifier) {
    const int port = link.ComPortNumber;
    // A stray byte is one the instrument sent after an earlier reply. It travels right behind
    // that reply, so it is either already queued when the reply is read (taken below), already
    // queued when the next exchange flushes the port, or on its way while the next frame is
    // still crossing the line: the instrument cannot answer a frame it has not heard, so bytes
    // seen before the frame's line time has passed are dropped too. None of this waits.
    const std::int64_t not_before =
        StartExchange(link, port, BuildCommandFrame(code, parameter, qualifier));
    std::string reply;
    if (CommReadReply(link.ports, port, reply, 1, not_before) < 1) return kNoReply;
    CommDrain(link.ports, port, 0);
    return static_cast<unsigned char>(reply[0]);
}

BlockDecode DecodeChannelBlock(std::span<const std::uint8_t> reply, int block_start,
                               std::span<std::uint16_t> channels) {
    BlockDecode result;
    if (!ValidBlockStart(block_start) ||
        channels.size() < static_cast<std::size_t>(kChannelCount) ||
        reply.size() != static_cast<std::size_t>(kBlockReplyBytes)) {
        result.bad = true;
        return result;
    }
    result.accepted = true;
    for (int k = 0; k < kBlockSamples; ++k) {
        int high = reply[static_cast<std::size_t>(2 * k)];
        const int low = reply[static_cast<std::size_t>(2 * k + 1)];
        if (high > 15) {
            high = 15;
            result.bad = true;
        }
        const int t = k / 3;
        const int channel = block_start + t + 128 * (k % 3);
        channels[static_cast<std::size_t>(channel)] = static_cast<std::uint16_t>(high * 256 + low);
    }
    return result;
}

BlockRead ReadChannelBlock(DeviceLink& link, int block_start, BlockReadMode mode,
                           std::span<std::uint16_t> channels) {
    const int port = link.ComPortNumber;
    const std::int64_t not_before =
        StartExchange(link, port, BuildCommandFrame(ReadChannelBlockCommand(block_start)));
    std::string reply;
    if (mode == BlockReadMode::TwoHalves) {
        std::string half;
        CommReadReply(link.ports, port, reply, kBlockSamples, not_before);
        CommRead(link.ports, port, half, kBlockSamples);
        reply += half;
    } else {
        CommReadReply(link.ports, port, reply, kBlockReplyBytes, not_before);
    }
    BlockRead result;
    result.bytes = static_cast<int>(reply.size());
    result.decode =
        DecodeChannelBlock(std::span<const std::uint8_t>(
                               reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()),
                           block_start, channels);
    return result;
}

SampleRead ReadFullSample(DeviceLink& link, std::span<std::uint16_t> channels, BlockReadMode mode) {
    SampleRead result;
    for (std::size_t i = 0; i < kBlockStarts.size(); ++i) {
        result.blocks[i] = ReadChannelBlock(link, kBlockStarts[i], mode, channels);
    }
    return result;
}

int ReadSerialNumber(DeviceLink& link, int port) {
    CommSetLine(link.ports, port, 3, -1);
    CommSetLine(link.ports, port, 2, -1);
    CommWrite(link.ports, port, FrameText(BuildCommandFrame(NullFrameCommand())));
    link.clock.SleepMs(kSerialNumberPauseMs);
    std::string reply;
    const std::int32_t n = CommRead(link.ports, port, reply, 2);
    int serial = -1;
    if (n >= 1) serial = static_cast<unsigned char>(reply[0]) * 255;
    if (n >= 2) serial += static_cast<unsigned char>(reply[1]);
    CommSetLine(link.ports, port, 3, 0);
    CommSetLine(link.ports, port, 2, 0);
    return serial;
}

std::string ChannelWriteErrorMessage(int channel) {
    return "Ops...Data Writing ERROR: reg(" + std::to_string(channel) +
           ")... Check COM and Try again";
}

int WriteChannelSetting(DeviceLink& link, int channel, int pin_hole, int gain) {
    const int value = gain * 32 + pin_hole;
    if (channel < 0 || channel >= kChannelCount || value < 0 || value > 255) return -1;
    const Command write = WriteChannelStoredByteCommand(channel, value);
    const int address = write.code;

    auto write_nine = [&](int pause_ms) {
        int last = kNoReply;
        for (int i = 0; i < kWriteRepeats; ++i) {
            last = SendCommandAndRead(link, write);
            if (pause_ms > 0) link.clock.SleepMs(pause_ms);
        }
        return last;
    };
    auto slow_round = [&] {
        link.clock.SleepMs(kResyncPauseMs);
        SendCommandAndRead(link, ReadTemperatureCommand());
        link.clock.SleepMs(kResyncPauseMs);
        return write_nine(kSlowWritePauseMs);
    };

    if (write_nine(0) == address) return 1;
    if (slow_round() == address) return 1;
    if (slow_round() == address) return 1;
    CommFlush(link.ports, link.ComPortNumber);
    if (slow_round() == address) return 1;
    link.dialogs.MessageBox(ChannelWriteErrorMessage(channel), MsgButtons::Ok);
    return -1;
}

void ValidateSensorCalibration(SensorCalibrationBlock& block) {
    const auto& r = block.registers;
    bool ok = true;
    if (r[0] != 0) ok = false;
    if (r[1] < 1 || r[1] > 12) ok = false;
    if (r[2] < 0 || r[2] > 99) ok = false;
    if (r[3] != 0 && r[3] != 1) ok = false;
    if (r[4] < 0) ok = false;
    if (r[5] <= 0) ok = false;
    if (r[6] < 0) ok = false;
    block.month = r[1];
    block.year = r[2];
    double offset = r[4] / 10.0;
    if (r[3] == 1) offset = -offset;
    double slope = (r[6] * 256 + r[5]) / 1000.0;
    if (offset < -10.0 || offset > 10.0) {
        offset = kDefaultSensorOffset;
        ok = false;
    }
    if (slope < 0.1 || slope > 0.45) {
        slope = kDefaultSensorSlope;
        ok = false;
    }
    if (!ok) {
        offset = kDefaultSensorOffset;
        slope = kDefaultSensorSlope;
    }
    block.offset = offset;
    block.slope = slope;
    block.calibrated = ok;
}

void ReadSensorCalibration(DeviceLink& link) {
    link.dialogs.ProcessEvents();
    CommFlush(link.ports, link.ComPortNumber);
    for (int reg = 0; reg < 8; ++reg) {
        int value = kNoReply;
        for (int attempt = 0; attempt < kRegisterReadAttempts; ++attempt) {
            const int first = SendCommandAndRead(link, ReadSensorRegisterCommand(reg));
            link.clock.SleepMs(kRegisterReadPauseMs);
            if (first == kNoReply) {
                if (attempt + 1 < kRegisterReadAttempts) {
                    SendCommandAndRead(link, NullFrameCommand());
                    link.clock.SleepMs(kRegisterReadPauseMs);
                }
                continue;
            }
            const int second = SendCommandAndRead(link, ReadSensorRegisterCommand(reg));
            link.clock.SleepMs(kRegisterReadPauseMs);
            if (first == second) {
                value = first;
                break;
            }
        }
        link.sensor.registers[static_cast<std::size_t>(reg)] = value;
    }
    ValidateSensorCalibration(link.sensor);
}

int ReadTemperatureRaw(DeviceLink& link) {
    return SendCommandAndRead(link, ReadTemperatureCommand());
}

double RawTemperatureToCelsius(int raw, const SensorCalibrationBlock& sensor) {
    return raw * sensor.slope + sensor.offset;
}

int SetOutputs(DeviceLink& link, int mask) {
    return SendCommand(link, SetOutputsCommand(mask));
}

}  // namespace lumivo
