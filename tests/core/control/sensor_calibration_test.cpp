// The temperature sensor's one-point calibration against the in-process simulated instrument:
// the register values of the formula, the verified register write, the refusals that write
// nothing, and the texts of the factory window.
#include "core/control/sensor_calibration.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "control_rig.h"

namespace lumivo {
namespace {

using testing::SimRig;

std::array<int, 7> InstrumentRegisters(const sim::Instrument& i) {
    std::array<int, 7> out{};
    for (int r = 0; r < 7; ++r) out[static_cast<std::size_t>(r)] = i.SensorRegister(r);
    return out;
}

TEST(SensorCalibration, RegisterValuesFollowTheFormula) {
    struct Case {
        double offset;
        double slope;
        std::array<int, 7> registers;
    };
    const Case cases[] = {
        {3.1, 0.219, {0, 3, 26, 0, 31, 219, 0}},   // byte 100 at 25.0 C
        {-3.9, 0.219, {0, 3, 26, 1, 39, 219, 0}},  // byte 100 at 18.0 C
        {0.0, 0.3, {0, 3, 26, 0, 0, 44, 1}},
        {-0.05, 0.45, {0, 3, 26, 1, 0, 194, 1}},  // |-0.5| rounds to the even 0
        {9.95, 0.1, {0, 3, 26, 0, 100, 100, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(SensorCalibrationRegisters(c.offset, c.slope, 3, 26), c.registers);
    }
}

TEST(SensorCalibration, AReferenceOf25WritesTheSevenRegistersAndTheNewOffset) {
    SimRig rig;  // 22 C, slope 0.219, offset 0: the sensor byte is 100
    rig.link.sensor.calibrated = true;
    const SensorCalibrationResult r = CalibrateTemperatureSensor(rig.link, "25.0");
    EXPECT_EQ(r.outcome, SensorCalibrationOutcome::Calibrated);
    EXPECT_EQ(r.sensor_byte, 100);
    EXPECT_NEAR(r.offset, 3.1, 1e-9);
    EXPECT_EQ(r.registers_written, 7);
    const std::array<int, 7> expected{0, 3, 26, 0, 31, 219, 0};  // the clock says March 2026
    EXPECT_EQ(r.registers, expected);
    EXPECT_EQ(InstrumentRegisters(rig.instrument), expected);
    EXPECT_NEAR(rig.link.sensor.offset, 3.1, 1e-9);
    EXPECT_DOUBLE_EQ(rig.link.sensor.slope, 0.219);
    EXPECT_EQ(r.status, "OK Last Factory Calibration 03/26 [mm/yy]");
    EXPECT_TRUE(rig.dialogs.Messages().empty());
    // Read back as at a connection, the block gives the same calibration.
    ReadSensorCalibration(rig.link);
    EXPECT_TRUE(rig.link.sensor.calibrated);
    EXPECT_NEAR(rig.link.sensor.offset, 3.1, 1e-9);
}

TEST(SensorCalibration, TheProgramTakesTheRegistersAsReadBack) {
    // 25.0 C reads as byte 114 (24.97 C): the offset 1.53 is stored as 1.5, and the program
    // reads the sensor with what the instrument holds, as the next connection will.
    SimRig rig;
    rig.instrument.SetTemperatureC(25.0);
    SensorCalibrationResult r = CalibrateTemperatureSensor(rig.link, "26.5");
    EXPECT_EQ(r.outcome, SensorCalibrationOutcome::Calibrated);
    EXPECT_TRUE(r.read_back_note.empty());
    EXPECT_EQ(r.read_back[4], 15);
    EXPECT_DOUBLE_EQ(rig.link.sensor.offset, 1.5);
    EXPECT_TRUE(rig.link.sensor.calibrated);
    EXPECT_EQ(ReadSensorTemperatureText(rig.link), "26.5");  // 114 x 0.219 + 1.5 = 26.47
    EXPECT_TRUE(rig.dialogs.Messages().empty());

    // A register that did not keep its value: what the instrument holds is used, and said.
    SimRig bad;
    bad.dialogs.on_events = [&](int) { bad.instrument.SetSensorRegister(4, 35); };
    r = CalibrateTemperatureSensor(bad.link, "25.0");
    EXPECT_EQ(r.outcome, SensorCalibrationOutcome::ReadBackDiffers);
    EXPECT_NEAR(bad.link.sensor.offset, 3.5, 1e-12);
    ASSERT_EQ(bad.dialogs.Messages().size(), 1u);
    EXPECT_EQ(bad.dialogs.Messages()[0],
              "The instrument's sensor registers read back differently from what was written "
              "(132: wrote 31, read 35): the program now uses what the instrument holds (OK Last "
              "Factory Calibration 03/26 [mm/yy]). Calibrate again.");

    // No answer to the read-back: the calibration as written stays in use, and that is said.
    SimRig silent;
    silent.dialogs.on_events = [&](int) { silent.instrument.Faults().silent = true; };
    r = CalibrateTemperatureSensor(silent.link, "25.0");
    EXPECT_EQ(r.outcome, SensorCalibrationOutcome::Calibrated);
    EXPECT_NEAR(silent.link.sensor.offset, 3.1, 1e-9);
    EXPECT_TRUE(silent.link.sensor.calibrated);
    EXPECT_EQ(r.status, "OK Last Factory Calibration 03/26 [mm/yy]");
    ASSERT_EQ(silent.dialogs.Messages().size(), 1u);
    EXPECT_EQ(silent.dialogs.Messages()[0].rfind(
                  "The calibration was written, but the instrument did not answer when registers "
                  "128, 129, 130, 131, 132, 133, 134 were read back",
                  0),
              0u)
        << silent.dialogs.Messages()[0];
}

TEST(SensorCalibration, RefusalsWriteNothing) {
    struct Case {
        const char* name;
        const char* reference;
        std::function<void(sim::Instrument&)> fault;
        SensorCalibrationOutcome outcome;
        std::string message;
    };
    const Case cases[] = {
        {"below 4", "3.9", nullptr, SensorCalibrationOutcome::InvalidReference,
         kInvalidReferenceMessage},
        {"above 50", "50.1", nullptr, SensorCalibrationOutcome::InvalidReference,
         kInvalidReferenceMessage},
        {"not a number", "warm", nullptr, SensorCalibrationOutcome::InvalidReference,
         kInvalidReferenceMessage},
        {"no temperature reading", "25.0", [](sim::Instrument& i) { i.Faults().silent = true; },
         SensorCalibrationOutcome::NoTemperature, kNoTemperatureReadingMessage},
        {"offset beyond 10 degrees", "4.0", [](sim::Instrument& i) { i.SetTemperatureC(45.0); },
         SensorCalibrationOutcome::OffsetOutOfRange,
         "The new offset -40.9 \xC2\xB0"
         "C (sensor byte 205, reference 4.0 \xC2\xB0"
         "C) lies outside -10.0..10.0 \xC2\xB0"
         "C: nothing was written. Check the reference temperature and the sensor."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig rig;
        if (c.fault) c.fault(rig.instrument);
        const auto before = InstrumentRegisters(rig.instrument);
        const SensorCalibrationResult r = CalibrateTemperatureSensor(rig.link, c.reference);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(rig.dialogs.Messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(rig.instrument.Stats().store_writes, 0u);
        EXPECT_EQ(InstrumentRegisters(rig.instrument), before);
        EXPECT_DOUBLE_EQ(rig.link.sensor.offset, 0.0);
    }
    // The ends of the range are accepted (with the plate near them, so the offset stays small).
    for (const auto& [edge, plate] : {std::pair{"4.0", 5.0}, std::pair{"50.0", 48.0}}) {
        SimRig rig;
        rig.instrument.SetTemperatureC(plate);
        EXPECT_EQ(CalibrateTemperatureSensor(rig.link, edge).outcome,
                  SensorCalibrationOutcome::Calibrated)
            << edge;
    }
}

TEST(SensorCalibration, AFailedWriteLeavesTheProgramsValuesAndSaysNonCalibrated) {
    SimRig rig;
    rig.link.sensor.calibrated = true;
    rig.link.sensor.month = 1;
    rig.link.sensor.year = 24;
    rig.instrument.Faults().bad_echo_writes = sim::kAlways;
    const SensorCalibrationResult r = CalibrateTemperatureSensor(rig.link, "25");
    EXPECT_EQ(r.outcome, SensorCalibrationOutcome::WriteFailed);
    EXPECT_EQ(r.registers_written, 0);
    EXPECT_EQ(r.status, kSensorNotCalibratedText);
    EXPECT_EQ(rig.dialogs.Messages(), std::vector<std::string>{ChannelWriteErrorMessage(128)});
    EXPECT_DOUBLE_EQ(rig.link.sensor.offset, 0.0);
    EXPECT_EQ(rig.link.sensor.month, 1);
    // Three rounds of nine writes, with a temperature query before each of the last two.
    EXPECT_EQ(rig.instrument.Stats().frames, 1u + 27u + 2u);
}

TEST(VerifiedRegisterWrite, RetriesInSlowRoundsAfterAWrongEcho) {
    SimRig rig;
    rig.instrument.Faults().bad_echo_writes = 9;  // the whole first round is garbled
    const std::int64_t t0 = rig.clock.MonotonicMicros();
    EXPECT_TRUE(VerifiedRegisterWrite(rig.link, WriteChannelStoredByteCommand(200, 0x25), 200));
    EXPECT_EQ(rig.instrument.ChannelSetting(200), 0x25);
    // 100 ms, a temperature query, 100 ms, nine writes each followed by 50 ms.
    EXPECT_GE(rig.clock.MonotonicMicros() - t0, (200 + 9 * 50) * 1000);
    EXPECT_TRUE(rig.dialogs.Messages().empty());
    // A value that does not fit the register byte is never sent.
    EXPECT_FALSE(VerifiedRegisterWrite(rig.link, WriteChannelStoredByteCommand(3, 8 * 32), 3));
}

TEST(FactoryWindow, OpensOnlyOnlineAndStoppedAndShowsItsTexts) {
    struct Case {
        bool offline;
        bool stopped;
        bool allowed;
    };
    for (const Case c : {Case{false, true, true}, Case{true, true, false},
                         Case{false, false, false}, Case{true, false, false}}) {
        testing::ScriptedDialogs dialogs;
        EXPECT_EQ(FactoryWindowsAllowed(dialogs, c.offline, c.stopped), c.allowed);
        EXPECT_EQ(dialogs.Messages(), c.allowed ? std::vector<std::string>{}
                                                : std::vector<std::string>{kFactoryAccessRefusal});
    }
    EXPECT_EQ(SerialNumberCaption(123), "SERIAL : LMVO00123");
    SensorCalibrationBlock sensor;
    EXPECT_EQ(SensorCalibrationStatusText(sensor), "NON Calibrated");
    sensor.calibrated = true;
    sensor.month = 1;
    sensor.year = 4;
    EXPECT_EQ(SensorCalibrationStatusText(sensor), "OK Last Factory Calibration 01/04 [mm/yy]");
    EXPECT_EQ(SensorTemperatureText(100, sensor), "21.9");
    EXPECT_EQ(SensorTemperatureText(kNoReply, sensor), "--.-");
    SimRig rig;
    EXPECT_EQ(ReadSensorTemperatureText(rig.link), "21.9");
}

}  // namespace
}  // namespace lumivo
