// The temperature sensor's calibration, the logic of the factory window `Frm_Factory`
// ("Temperature Sensing Calibration"). The instrument reports one raw sensor byte; the program
// reads it as byte x slope + offset, with slope and offset stored in seven registers of the
// instrument (addresses 128..134, the sensor block's registers 0..6) together with the month
// and year of the calibration. A one-point calibration keeps the slope and computes the offset
// that makes the present sensor byte read as the true temperature the operator enters.
//
// Also the verified register write both factory windows use, and the rule that opens them.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/device/command_set.h"

namespace lumivo {

inline constexpr const char* kFactoryAccessRefusal =
    "Only possible to access in: ONLINE mode and STOP experiment";
inline constexpr const char* kSensorNotCalibratedText = "NON Calibrated";
inline constexpr const char* kInvalidReferenceMessage =
    "invalid Calibration Parameter: value must be between 4\xC2\xB0"
    "C and 50\xC2\xB0"
    "C";
inline constexpr const char* kNoTemperatureReadingMessage =
    "The instrument did not answer the temperature query: the sensor was NOT calibrated and "
    "nothing was written. Check the connection and try again.";

inline constexpr double kMinReferenceCelsius = 4.0;
inline constexpr double kMaxReferenceCelsius = 50.0;
// The offsets the program accepts when it reads the sensor block back at connection.
inline constexpr double kMaxSensorOffset = 10.0;
inline constexpr double kDefaultReferenceCelsius = 25.0;  // txt_set_temp when the window opens
inline constexpr int kTimerTempIntervalMs = 1000;

// mn_factory: the factory windows open only online and with no acquisition running or paused;
// otherwise the refusal is shown and false returned.
bool FactoryWindowsAllowed(Dialogs& dialogs, bool offline, bool acquisition_stopped);

// lblserial: "SERIAL : LMVO" + the serial number in five digits.
std::string SerialNumberCaption(int serial);

// txt_mensaje: "NON Calibrated", or "OK Last Factory Calibration " + mm + "/" + yy + " [mm/yy]".
std::string SensorCalibrationStatusText(const SensorCalibrationBlock& sensor);

// txt_current_temp: the temperature of a raw byte as "0.0"; "--.-" when the query got no answer.
std::string SensorTemperatureText(int raw, const SensorCalibrationBlock& sensor);

// Timer_temp_Timer: asks the instrument for its temperature and returns the text to show.
std::string ReadSensorTemperatureText(DeviceLink& link);

// The seven register values (addresses 128..134) of a calibration: 0, month, two-digit year,
// sign of the offset (1 when negative), CInt(|offset x 10|), the low and the high byte of
// slope x 1000.
std::array<int, 7> SensorCalibrationRegisters(double offset, double slope, int month, int year);

// The verified register write of the factory windows: the write is sent nine times in a row
// and succeeds when the last reply echoes its address; otherwise up to two more rounds (100 ms,
// a temperature query, 100 ms, nine writes 50 ms apart). After three failed rounds it shows
// "Ops...Data Writing ERROR: reg(" + `shown_number` + ")... Check COM and Try again" and returns
// false. A value that does not fit the register byte is refused at once.
bool VerifiedRegisterWrite(DeviceLink& link, const Command& write, int shown_number);

enum class SensorCalibrationOutcome {
    Calibrated,        // all seven registers written; the program's offset is the new one
    InvalidReference,  // the true temperature is not a number in 4.0..50.0
    NoTemperature,     // the instrument did not answer the temperature query
    OffsetOutOfRange,  // the new offset lies outside -10.0..10.0 and would be refused back
    WriteFailed,       // a register write failed; the program's values are unchanged
    ReadBackDiffers,   // written, but the registers read back hold other values, now in use
};

struct SensorCalibrationResult {
    SensorCalibrationOutcome outcome = SensorCalibrationOutcome::InvalidReference;
    int sensor_byte = -1;
    double reference = 0.0;  // the true temperature entered
    double offset = 0.0;     // the new offset (computed once the byte was read)
    double slope = 0.0;      // the slope kept
    int month = 0;
    int year = 0;  // two digits
    std::array<int, 7> registers{};
    int registers_written = 0;
    std::array<int, 8> read_back{-1, -1, -1, -1, -1, -1, -1, -1};  // the registers afterwards
    std::string read_back_note;  // why the read-back is not the calibration written, if so
    std::string status;          // what txt_mensaje shows afterwards
};

// Cmd_temp_Click with `reference_text` the text of txt_set_temp: checks the true temperature,
// reads the sensor byte, computes the new offset, writes registers 128..134 in order with the
// verified write (stopping at the first failure) and, only when all seven were written, reads
// the registers back as a connection does and makes what they hold (the offset in tenths, this
// month and year) the program's calibration. A read-back that differs from what was written is
// taken as it is and told; one that gets no answer keeps the calibration as written and is
// told. Refusals write nothing and show their message.
SensorCalibrationResult CalibrateTemperatureSensor(DeviceLink& link,
                                                   std::string_view reference_text);

}  // namespace lumivo
