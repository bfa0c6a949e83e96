#include "core/control/sensor_calibration.h"

#include <cmath>
#include <cstdio>

#include "core/common/rounding.h"
#include "core/control/control_fields.h"

namespace lumivo {
namespace {

constexpr int kWriteRepeats = 9;
constexpr int kVerifiedRounds = 3;
constexpr int kResyncPauseMs = 100;
constexpr int kSlowWritePauseMs = 50;
constexpr int kSensorRegistersWritten = 7;

}  // namespace

bool FactoryWindowsAllowed(Dialogs& dialogs, bool offline, bool acquisition_stopped) {
    if (!offline && acquisition_stopped) return true;
    dialogs.MessageBox(kFactoryAccessRefusal, MsgButtons::Ok);
    return false;
}

std::string SerialNumberCaption(int serial) {
    char text[32];
    std::snprintf(text, sizeof text, "SERIAL : LMVO%05d", serial);
    return text;
}

std::string SensorCalibrationStatusText(const SensorCalibrationBlock& sensor) {
    if (!sensor.calibrated) return kSensorNotCalibratedText;
    char text[64];
    std::snprintf(text, sizeof text, "OK Last Factory Calibration %02d/%02d [mm/yy]", sensor.month,
                  sensor.year);
    return text;
}

std::string SensorTemperatureText(int raw, const SensorCalibrationBlock& sensor) {
    if (raw == kNoReply) return "--.-";
    return FormatOneDecimal(RawTemperatureToCelsius(raw, sensor));
}

std::string ReadSensorTemperatureText(DeviceLink& link) {
    return SensorTemperatureText(ReadTemperatureRaw(link), link.sensor);
}

std::array<int, 7> SensorCalibrationRegisters(double offset, double slope, int month, int year) {
    const double slope_milli = slope * 1000.0;
    const int high = static_cast<int>(std::floor(slope_milli / 256.0));
    const int low = RoundToInt32(slope_milli - high * 256.0);
    return {0,   month, year, offset < 0.0 ? 1 : 0, RoundToInt32(std::fabs(offset * 10.0)),
            low, high};
}

bool VerifiedRegisterWrite(DeviceLink& link, const Command& write, int shown_number) {
    if (write.parameter < 0 || write.parameter > 255) return false;
    const int address = write.code;
    auto nine = [&](int pause_ms) {
        int last = kNoReply;
        for (int i = 0; i < kWriteRepeats; ++i) {
            last = SendCommandAndRead(link, write);
            if (pause_ms > 0) link.clock.SleepMs(pause_ms);
        }
        return last;
    };
    if (nine(0) == address) return true;
    for (int round = 1; round < kVerifiedRounds; ++round) {
        link.clock.SleepMs(kResyncPauseMs);
        SendCommandAndRead(link, ReadTemperatureCommand());
        link.clock.SleepMs(kResyncPauseMs);
        if (nine(kSlowWritePauseMs) == address) return true;
    }
    link.dialogs.MessageBox(ChannelWriteErrorMessage(shown_number), MsgButtons::Ok);
    return false;
}

SensorCalibrationResult CalibrateTemperatureSensor(DeviceLink& link,
                                                   std::string_view reference_text) {
    SensorCalibrationResult r;
    SensorCalibrationBlock& sensor = link.sensor;
    r.slope = sensor.slope;
    r.status = SensorCalibrationStatusText(sensor);
    const auto reference = ParseNumericText(reference_text);
    if (!reference || *reference < kMinReferenceCelsius || *reference > kMaxReferenceCelsius) {
        r.outcome = SensorCalibrationOutcome::InvalidReference;
        link.dialogs.MessageBox(kInvalidReferenceMessage, MsgButtons::Ok);
        return r;
    }
    r.reference = *reference;

    // Without the sensor byte there is nothing to calibrate against.
    r.sensor_byte = ReadTemperatureRaw(link);
    if (r.sensor_byte == kNoReply) {
        r.outcome = SensorCalibrationOutcome::NoTemperature;
        link.dialogs.MessageBox(kNoTemperatureReadingMessage, MsgButtons::Ok);
        return r;
    }
    // The offset that makes the present byte read as the true temperature: Ts - (Tc - offset).
    r.offset = r.reference - r.sensor_byte * r.slope;
    // The instrument keeps |offset| x 10 in one byte, and the program refuses an offset beyond
    // 10 degrees when it reads the block back: such a calibration would be lost or garbled.
    if (std::fabs(r.offset) > kMaxSensorOffset) {
        r.outcome = SensorCalibrationOutcome::OffsetOutOfRange;
        link.dialogs.MessageBox(
            "The new offset " + FormatOneDecimal(r.offset) + " \xC2\xB0" + "C (sensor byte " +
                std::to_string(r.sensor_byte) + ", reference " + FormatOneDecimal(r.reference) +
                " \xC2\xB0" + "C) lies outside -10.0..10.0 \xC2\xB0" +
                "C: nothing was written. Check the reference temperature and the sensor.",
            MsgButtons::Ok);
        return r;
    }
    const LocalDateTime now = link.clock.Now();
    r.month = now.month;
    r.year = now.year % 100;
    r.registers = SensorCalibrationRegisters(r.offset, r.slope, r.month, r.year);

    for (int reg = 0; reg < kSensorRegistersWritten; ++reg) {
        const int value = r.registers[static_cast<std::size_t>(reg)];
        const Command write = WriteSensorRegisterCommand(reg, value);
        if (!VerifiedRegisterWrite(link, write, kSensorRegisterBase + reg)) {
            r.outcome = SensorCalibrationOutcome::WriteFailed;
            r.status = kSensorNotCalibratedText;
            return r;
        }
        ++r.registers_written;
    }
    // The calibration as written...
    for (int reg = 0; reg < kSensorRegistersWritten; ++reg) {
        sensor.registers[static_cast<std::size_t>(reg)] =
            r.registers[static_cast<std::size_t>(reg)];
    }
    sensor.offset = r.offset;
    sensor.month = r.month;
    sensor.year = r.year;
    sensor.calibrated = true;
    const SensorCalibrationBlock written = sensor;

    // ... and as the instrument holds it: read back as a connection reads it, so that the
    // temperature shown from now on is what the instrument's registers give (the offset as
    // stored, in tenths of a degree).
    ReadSensorCalibration(link);
    std::string unanswered;
    std::string differing;
    for (int reg = 0; reg < kSensorRegistersWritten; ++reg) {
        const auto i = static_cast<std::size_t>(reg);
        const int back = sensor.registers[i];
        const std::string address = std::to_string(kSensorRegisterBase + reg);
        if (back == kNoReply) {
            unanswered += (unanswered.empty() ? "" : ", ") + address;
        } else if (back != r.registers[i]) {
            differing += (differing.empty() ? "" : ", ") + address + ": wrote " +
                         std::to_string(r.registers[i]) + ", read " + std::to_string(back);
        }
    }
    r.read_back = sensor.registers;
    if (!unanswered.empty()) {
        // Nothing to compare with: the program keeps the calibration it wrote.
        sensor = written;
        r.outcome = SensorCalibrationOutcome::Calibrated;
        r.read_back_note = "The calibration was written, but the instrument did not answer when "
                           "registers " +
                           unanswered +
                           " were read back: the temperature shown uses the calibration as "
                           "written. Connect again to check what the instrument holds.";
        link.dialogs.MessageBox(r.read_back_note, MsgButtons::Ok);
    } else if (!differing.empty()) {
        r.outcome = SensorCalibrationOutcome::ReadBackDiffers;
        r.read_back_note =
            "The instrument's sensor registers read back differently from what was written (" +
            differing + "): the program now uses what the instrument holds (" +
            SensorCalibrationStatusText(sensor) + "). Calibrate again.";
        link.dialogs.MessageBox(r.read_back_note, MsgButtons::Ok);
    } else {
        r.outcome = SensorCalibrationOutcome::Calibrated;
    }
    r.status = SensorCalibrationStatusText(sensor);
    return r;
}

}  // namespace lumivo
