#include "core/storage/field_record.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace lumivo {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Shown in error messages; long or binary garbage is cut.
std::string Shown(std::string_view s) {
    std::string out;
    for (char c : s.substr(0, 40)) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    if (s.size() > 40) out += "...";
    return out;
}

[[noreturn]] void NotANumber(const Field& f, const char* kind) {
    throw StorageError("\"" + Shown(f.text) + "\" is not " + kind);
}

}  // namespace

std::vector<Field> SplitRecord(std::string_view line) {
    std::vector<Field> fields;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        Field f;
        const std::size_t start = i;
        std::size_t j = i;
        while (j < n && IsBlank(line[j])) ++j;
        if (j < n && line[j] == '"') {
            f.quoted = true;
            ++j;
            bool closed = false;
            while (j < n) {
                if (line[j] == '"') {
                    if (j + 1 < n && line[j + 1] == '"') {
                        f.text += '"';
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                f.text += line[j++];
            }
            if (!closed) throw StorageError("unterminated quoted text \"" + Shown(f.text) + "\"");
            while (j < n && line[j] != ',') ++j;  // anything after the closing quote
        } else {
            while (j < n && line[j] != ',') ++j;
            f.text = std::string(Trim(line.substr(start, j - start)));
        }
        f.raw = std::string(line.substr(start, j - start));
        fields.push_back(std::move(f));
        if (j >= n) break;
        i = j + 1;  // past the comma; a trailing comma gives a last, empty field
    }
    return fields;
}

bool ParseWholeNumber(std::string_view text, long long& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    long long v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e) return false;
    out = v;
    return true;
}

namespace {

// The field as a whole number of type T; `what` names that type in the error.
template <typename T>
T FieldToWhole(const Field& f, const char* what) {
    long long v = 0;
    if (!ParseWholeNumber(f.text, v) || v < std::numeric_limits<T>::min() ||
        v > std::numeric_limits<T>::max())
        NotANumber(f, what);
    return static_cast<T>(v);
}

}  // namespace

std::int16_t FieldToInt16(const Field& f) {
    return FieldToWhole<std::int16_t>(f, "a 16-bit whole number");
}

std::int32_t FieldToInt32(const Field& f) {
    return FieldToWhole<std::int32_t>(f, "a whole number");
}

double FieldToDouble(const Field& f) {
    std::string_view t = Trim(f.text);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    double v = 0;
    const char* b = t.data();
    const char* e = b + t.size();
    auto [p, ec] = std::from_chars(b, e, v, std::chars_format::general);
    if (t.empty() || ec != std::errc() || p != e || !std::isfinite(v)) NotANumber(f, "a number");
    return v;
}

std::string FormatDouble(double v) {
    if (!std::isfinite(v))
        throw StorageError("a value that is not a finite number cannot be saved");
    if (v == 0.0) v = 0.0;  // drops the sign of -0
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec != std::errc()) throw StorageError("number too long to format");
    return std::string(buf, p);
}

double RoundDecimals(double v, int decimals) {
    if (!std::isfinite(v)) return v;
    const double scale = std::pow(10.0, decimals);
    const double scaled = v * scale;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.0e15) return v;  // already whole
    return std::nearbyint(scaled) / scale;  // default rounding mode: halves to even
}

LineText::LineText(std::string_view content) {
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        const bool terminated = end != std::string_view::npos;
        if (!terminated) end = content.size();
        std::string_view line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.emplace_back(line);
        start = terminated ? end + 1 : end;
    }
}

bool RecordReader::HasData() const {
    for (std::size_t i = next_; i < text_.size(); ++i)
        if (!Trim(text_[i]).empty()) return true;
    return false;
}

const std::string& RecordReader::NextLine() {
    if (next_ >= text_.size())
        throw StorageError("unexpected end of file after line " + std::to_string(next_));
    return text_[next_++];
}

void RecordReader::SkipLine() {
    (void)NextLine();
}

std::vector<Field> RecordReader::AnyRecord() {
    const std::string& line = NextLine();
    try {
        return SplitRecord(line);
    } catch (const StorageError& e) {
        throw StorageError("line " + std::to_string(next_) + ": " + e.what());
    }
}

std::vector<Field> RecordReader::Record(std::size_t count) {
    auto fields = AnyRecord();
    if (fields.size() < count)
        throw StorageError("line " + std::to_string(next_) + " has " +
                           std::to_string(fields.size()) + " fields instead of " +
                           std::to_string(count));
    fields.resize(count);
    return fields;
}

bool FieldStream::HasData() const {
    if (next_ < fields_.size()) return true;
    for (std::size_t i = next_line_; i < text_.size(); ++i)
        if (!Trim(text_[i]).empty()) return true;
    return false;
}

const Field& FieldStream::Next() {
    while (next_ >= fields_.size()) {
        if (next_line_ >= text_.size()) throw StorageError("unexpected end of file");
        const std::string& line = text_[next_line_++];
        if (Trim(line).empty()) continue;  // a blank line holds no field
        try {
            fields_ = SplitRecord(line);
        } catch (const StorageError& e) {
            throw StorageError("line " + std::to_string(next_line_) + ": " + e.what());
        }
        next_ = 0;
    }
    return fields_[next_++];
}

bool FieldStream::HasNextLine() const {
    for (std::size_t i = next_line_; i < text_.size(); ++i)
        if (!Trim(text_[i]).empty()) return true;
    return false;
}

std::vector<Field> FieldStream::NextLine() {
    fields_.clear();
    next_ = 0;
    (void)Next();  // splits the next line that holds fields
    next_ = fields_.size();
    return fields_;
}

void RecordWriter::Separator() {
    if (line_has_field_) out_ += ',';
    line_has_field_ = true;
}

std::string CheckStorableText(std::string_view text, std::string_view what) {
    if (text.find_first_of("\r\n") == std::string_view::npos) return {};
    return std::string(what) + " \"" + Shown(text) +
           "\" contains a line break and cannot be saved. Please use a single line.";
}

std::string QuoteField(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

RecordWriter& RecordWriter::Text(std::string_view s) {
    if (auto msg = CheckStorableText(s, "The text"); !msg.empty()) throw StorageError(msg);
    Separator();
    out_ += QuoteField(s);
    return *this;
}

RecordWriter& RecordWriter::Int(long long v) {
    Separator();
    out_ += std::to_string(v);
    return *this;
}

RecordWriter& RecordWriter::Double(double v) {
    Separator();
    out_ += FormatDouble(v);
    return *this;
}

RecordWriter& RecordWriter::RawField(std::string_view s) {
    Separator();
    out_ += s;
    return *this;
}

RecordWriter& RecordWriter::EndLine() {
    out_ += "\r\n";
    line_has_field_ = false;
    return *this;
}

RecordWriter& RecordWriter::Line(std::string_view whole_line) {
    out_ += whole_line;
    return EndLine();
}

}  // namespace lumivo
