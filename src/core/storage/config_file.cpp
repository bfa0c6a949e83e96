#include "core/storage/config_file.h"

#include "core/storage/field_record.h"

namespace lumivo {

bool ConfigFileExists(StorageContext& ctx) {
    return ctx.files.IsFile(ctx.install_dir / kConfigFileName);
}

bool LoadConfig(StorageContext& ctx, GlobalConfig& config) {
    GlobalConfig read;
    try {
        RecordReader in(ctx.files.ReadFile(ctx.install_dir / kConfigFileName));
        in.SkipLine();
        const auto f = in.Record(4);
        read.Actual_Project_Number = FieldToInt16(f[0]);
        read.Last_Project = FieldToInt16(f[1]);
        read.ComPortNumber = FieldToInt16(f[2]);
        read.Restart_Time = FieldToInt16(f[3]);
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox(kConfigLoadErrorMessage);
        config = GlobalConfig{1, 1, 4, 0};
        return false;
    }
    if (read.Actual_Project_Number < 0) read.Actual_Project_Number = 0;
    if (read.Actual_Project_Number > read.Last_Project)
        read.Last_Project = read.Actual_Project_Number;
    if (read.ComPortNumber < kMinComPort) read.ComPortNumber = std::int16_t{kMinComPort};
    if (read.ComPortNumber > kMaxComPort) read.ComPortNumber = std::int16_t{kMaxComPort};
    read.Restart_Time = 0;
    config = read;
    return true;
}

std::string FormatConfig(const GlobalConfig& config) {
    RecordWriter out;
    out.Header(kConfigHeader);
    out.Int(config.Actual_Project_Number)
        .Int(config.Last_Project)
        .Int(config.ComPortNumber)
        .Int(config.Restart_Time)
        .EndLine();
    return out.Take();
}

bool SaveConfig(StorageContext& ctx, const GlobalConfig& config) {
    try {
        ctx.files.WriteFile(ctx.install_dir / kConfigFileName, FormatConfig(config));
    } catch (const StorageError&) {
        ctx.dialogs.MessageBox(kConfigSaveErrorMessage);
        return false;
    }
    return true;
}

}  // namespace lumivo
