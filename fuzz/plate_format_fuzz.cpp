// Fuzzes the plate-format reader with its fallback: any file must give a map whose tables are
// consistent and never index outside themselves.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/storage/plate_format.h"

using namespace lumivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFileSystem files;
    files.CreateFolders("/inst");
    files.WriteFile("/inst/wfuzz.dat", std::string(reinterpret_cast<const char*>(data), size));
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{"/inst", dialogs, files};

    PlateMap plate;
    std::string format = "wfuzz";
    LoadPlateFormat(ctx, format, plate);

    if (plate.PlateRows < 1 || plate.PlateColumns < 1) __builtin_trap();
    if (plate.WellChannel.wells() != plate.MaxWellIndex + 1) __builtin_trap();
    if (plate.WellChannel.beams() != plate.MaxBeamIndex + 1) __builtin_trap();
    for (int w = 0; w <= plate.MaxWellIndex; ++w) {
        for (int b = 0; b <= plate.MaxBeamIndex; ++b) {
            const int ch = plate.WellChannel(w, b);
            if (ch == kNoChannel) continue;
            if (ch < 0 || ch >= kChannelCount) __builtin_trap();
            const auto i = static_cast<std::size_t>(ch);
            if (plate.ChannelWell[i] != w || plate.ChannelBeam[i] != b) __builtin_trap();
        }
    }
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        if (plate.ChannelWell[i] < kNoWell || plate.ChannelWell[i] > plate.MaxWellIndex)
            __builtin_trap();
        if (plate.ChannelWell[i] >= 0 &&
            plate.WellChannel(plate.ChannelWell[i], plate.ChannelBeam[i]) < 0)
            __builtin_trap();
        (void)WellName(plate, plate.ChannelWell[i]);
    }
    return 0;
}
