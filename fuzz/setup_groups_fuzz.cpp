// Fuzzes the group assignment of the project setup over any plate file: the input is a plate
// file, a zero byte, then a script of operations (labels, group entries, block sizes, pointer
// positions, rectangles, number boxes). No operation may index outside the plate map or the
// group table, leave a group number outside -1..383, or touch a channel that takes no part.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/setup/plate_groups.h"
#include "core/setup/project_ops.h"

using namespace lumivo;

namespace {

// `cleared`: the operation freed every channel first (clearing, the arrangement).
void CheckGroups(const ProjectState& before, const ProjectState& after, const PlateMap& plate,
                 bool cleared) {
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        const int g = after.ChannelGroup[i];
        if (g < kFreeGroup || g > kMaxGroup) __builtin_trap();
        // Channels that take no part keep their group (or are freed by a clearing).
        if (!TakesPart(after, plate, ch) && g != before.ChannelGroup[i] &&
            !(cleared && g == kFreeGroup))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = all.find('\0');
    MemoryFileSystem files;
    files.CreateFolders("/inst");
    files.WriteFile("/inst/wfuzz.dat", all.substr(0, cut));
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{"/inst", dialogs, files};
    PlateMap plate;
    std::string format = "wfuzz";
    LoadPlateFormat(ctx, format, plate);

    ProjectState project;
    const std::string script = cut == std::string::npos ? std::string() : all.substr(cut + 1);
    FuzzedDataProvider in(reinterpret_cast<const std::uint8_t*>(script.data()), script.size());
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        const ProjectState before = project;
        const int op = in.ConsumeIntegralInRange(0, 10);
        switch (op) {
            case 0: {
                const auto ch = ChannelOfLabel(plate, in.ConsumeRandomLengthString(16));
                if (ch && (*ch < 0 || *ch >= kChannelCount ||
                           plate.ChannelWell[static_cast<std::size_t>(*ch)] < 0))
                    __builtin_trap();
                break;
            }
            case 1: {
                const int group = in.ConsumeIntegralInRange(-5, 400);
                MoveLabel(project, plate, in.ConsumeRandomLengthString(16), group);
                break;
            }
            case 2: {
                const auto g = GroupOfEntry(in.ConsumeRandomLengthString(8));
                if (g && !IsGroupNumber(*g)) __builtin_trap();
                break;
            }
            case 3: {
                const auto block = ParseBlockSize(in.ConsumeRandomLengthString(8));
                if (block) ArrangeInBlocks(project, plate, *block);
                break;
            }
            case 4: {
                const double x = in.ConsumeFloatingPoint<double>();
                const double y = in.ConsumeFloatingPoint<double>();
                const WellCell c = WellAtPoint(plate, x, y);
                if (c.column < 0 || c.column >= std::max<int>(1, plate.PlateColumns) || c.row < 0 ||
                    c.row >= std::max<int>(1, plate.PlateRows))
                    __builtin_trap();
                break;
            }
            case 5: {
                WellCell a{in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()};
                WellCell b{in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()};
                AssignRectangle(project, plate, a, b, in.ConsumeIntegralInRange(-3, 390));
                break;
            }
            case 6:
                ClearGroups(project);
                break;
            case 7:
                for (const auto& entry : RebuildGroupList(project))
                    if (!GroupOfEntry(entry)) __builtin_trap();
                break;
            case 8: {
                const std::string text = in.ConsumeRandomLengthString(24);
                EditAqLapse(project.Setup, text);
                EditRtBuffer(project.Setup, text);
                EditSampleRate(project.Setup, text);
                EditDspInterval(project.Setup, text);
                if (project.Setup.Aq_lapse < 1 || project.Setup.Aq_lapse > kMaxAqLapse ||
                    project.Setup.RT_Buffer < kMinRtBuffer ||
                    project.Setup.RT_Buffer > kMaxRtBuffer || project.Setup.DSP_Interval < 0)
                    __builtin_trap();
                break;
            }
            case 9: {
                const auto i = in.ConsumeIntegralInRange<std::size_t>(0, kChannelCount - 1);
                project.ChannelEnabled[i] = project.ChannelEnabled[i] != 0 ? 0 : -1;
                break;
            }
            default:
                for (const auto& caption : BlockSizeCaptions(plate))
                    if (!ParseBlockSize(caption)) __builtin_trap();
                break;
        }
        CheckGroups(before, project, plate, op == 3 || op == 6);
        for (int g = -1; g <= kMaxGroup; g += 97) (void)LabelsOfGroup(project, plate, g);
    }
    return 0;
}
