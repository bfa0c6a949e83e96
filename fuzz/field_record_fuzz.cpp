// Fuzzes the field-record reader and writer: any bytes must split without crashing, and every
// text the writer accepts must read back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/storage/field_record.h"

using namespace lumivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const LineText lines(input);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        try {
            for (const auto& f : SplitRecord(lines[i])) {
                try {
                    (void)FieldToInt16(f);
                } catch (const StorageError&) {
                }
                try {
                    const double v = FieldToDouble(f);
                    // A number read back from its own formatting is the same number.
                    Field again;
                    again.text = FormatDouble(v);
                    if (FieldToDouble(again) != v) __builtin_trap();
                } catch (const StorageError&) {
                }
            }
        } catch (const StorageError&) {
        }
    }

    try {
        FieldStream stream(input);
        while (stream.HasData()) (void)stream.Next();
    } catch (const StorageError&) {
    }

    // The whole input as one text field: written, then read back.
    if (CheckStorableText(input, "text").empty()) {
        RecordWriter w;
        w.Int(7).Text(input).Int(-1).EndLine();
        RecordReader r(w.str());
        const auto f = r.Record(3);
        if (f[1].text != input || f[0].text != "7" || f[2].text != "-1") __builtin_trap();
    }
    return 0;
}
