#include "core/storage/calibration_file.h"

#include "core/storage/field_record.h"

namespace lumivo {

std::vector<int> LoadCalibration(StorageContext& ctx, CalibrationValues& cal,
                                 std::size_t* channels_read) {
    CalibrationValues read = cal;
    RecordReader in(ctx.files.ReadFile(ctx.install_dir / kCalibrationFileName));
    in.SkipLine();
    std::vector<int> reset;
    if (channels_read) *channels_read = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelTableSize) && in.HasData(); ++i) {
        if (channels_read) *channels_read = i + 1;
        const auto f = in.Record(3);
        std::int16_t pin = FieldToInt16(f[1]);
        std::int16_t gain = FieldToInt16(f[2]);
        if (pin < 0 || pin > kMaxPinHole || gain < 0 || gain > kMaxGain) {
            reset.push_back(static_cast<int>(i));
            pin = kFirstPinHole;
            gain = kFirstGain;
        }
        read.PinHole[i] = pin;
        read.Gain[i] = gain;
    }
    cal = read;
    if (!reset.empty()) {
        std::string list;
        for (std::size_t k = 0; k < reset.size() && k < 24; ++k)
            list += (k ? ", " : "") + std::to_string(reset[k]);
        if (reset.size() > 24) list += ", ...";
        ctx.dialogs.MessageBox(FileErrorTag(ctx.install_dir / kCalibrationFileName) +
                               " PinHole/Gain out of range on channel " + list +
                               " => Loading default values (PinHole 2, Gain 3)");
    }
    return reset;
}

std::string FormatCalibrationFile(const CalibrationValues& cal) {
    RecordWriter out;
    out.Header("<Num_Channel>, <PinHole>, <Gain> ");
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i)
        out.Int(static_cast<long long>(i)).Int(cal.PinHole[i]).Int(cal.Gain[i]).EndLine();
    return out.Take();
}

void ResetCalibration(StorageContext& ctx, CalibrationValues& cal) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i) {
        cal.PinHole[i] = kFirstPinHole;
        cal.Gain[i] = kFirstGain;
    }
    SaveCalibration(ctx, cal);
}

void SaveCalibration(StorageContext& ctx, const CalibrationValues& cal) {
    ctx.files.WriteFile(ctx.install_dir / kCalibrationFileName, FormatCalibrationFile(cal));
}

}  // namespace lumivo
