// The field-record text format shared by every configuration and project file: 8-bit text,
// CR LF line ends, one record per line, comma-separated fields, strings in double quotes,
// integers in plain decimal, doubles in shortest round-trip form with "." as the decimal point
// whatever the locale. Header lines are one quoted string.
//
// A double quote inside a string is written doubled (""), so any name survives a round trip;
// files without such names are byte-identical to the classic layout, and files written by older
// versions (which could not hold a quote at all) still read. Line breaks cannot be stored in a
// field and are refused with a StorageError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumivo {

// Any failure to read, parse or write a storage file. The message is meant for the user.
struct StorageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One field of a record.
struct Field {
    std::string text;  // the value: unquoted, "" unescaped, surrounding blanks trimmed if bare
    std::string raw;   // the exact bytes between the separators, as found in the file
    bool quoted = false;
};

// Splits one line (without its line end) into fields. Throws StorageError on an unterminated
// quoted string. Characters after a closing quote up to the next comma are ignored, as the
// classic reader did, so a damaged name cannot shift the fields after it.
std::vector<Field> SplitRecord(std::string_view line);

// Parsers of a single field; throw StorageError naming the field when the text is not a whole
// number of the type (no partial parses, no locale).
std::int16_t FieldToInt16(const Field& f);
std::int32_t FieldToInt32(const Field& f);
double FieldToDouble(const Field& f);  // finite values only
// Parses a whole decimal integer (optional sign, surrounding blanks allowed).
bool ParseWholeNumber(std::string_view text, long long& out);

// Formats a double in shortest round-trip form with "." ("3", "2.346", "1e-05"); -0 is "0".
// Throws StorageError for infinities and NaN, which the format cannot carry.
std::string FormatDouble(double v);

// Rounds to `decimals` decimals with halves to the even neighbour on the scaled value.
double RoundDecimals(double v, int decimals);

// The text of a file split into lines: a line ends at LF, a CR before it is dropped; a last
// line without a line end counts, an empty remainder after the last LF does not.
class LineText {
  public:
    explicit LineText(std::string_view content);
    std::size_t size() const { return lines_.size(); }
    const std::string& operator[](std::size_t i) const { return lines_[i]; }

  private:
    std::vector<std::string> lines_;
};

// Reads records line by line, by position. Every failure throws StorageError.
class RecordReader {
  public:
    explicit RecordReader(std::string_view content) : text_(content) {}

    // True while a line with content remains (blank lines at the end of a file are its end).
    bool HasData() const;
    std::size_t line_number() const { return next_; }  // lines consumed so far
    std::size_t line_count() const { return text_.size(); }

    // Skips one line, whatever it holds (header lines). Throws at the end of the file.
    void SkipLine();
    // Reads the next line as a record of at least `count` fields and returns the first
    // `count`: fields are taken by position and any further ones (written by another version
    // of the program) are ignored. Fewer fields throw.
    std::vector<Field> Record(std::size_t count);
    // Reads the next line as a record of any number of fields.
    std::vector<Field> AnyRecord();

  private:
    const std::string& NextLine();
    LineText text_;
    std::size_t next_ = 0;
};

// Reads the fields of a whole file as one sequence, ignoring where the lines end (the plate
// formats are read this way).
// Lines are split only when their fields are reached, so an error is met where it lies.
class FieldStream {
  public:
    explicit FieldStream(std::string_view content) : text_(content) {}
    bool HasData() const;
    const Field& Next();  // throws StorageError at the end of the file or on a bad line
    // Leaves what remains of the current line and returns all the fields of the next line
    // that holds any; throws StorageError at the end of the file or on a bad line.
    std::vector<Field> NextLine();
    // True while a line after the current one holds fields.
    bool HasNextLine() const;
    // The line (from 1) of the last field or line returned; 0 before the first.
    std::size_t line_number() const { return next_line_; }

  private:
    LineText text_;
    std::size_t next_line_ = 0;
    std::vector<Field> fields_;  // of the current line
    std::size_t next_ = 0;
};

// Builds the text of a file record by record.
class RecordWriter {
  public:
    RecordWriter& Text(std::string_view s);  // quoted; throws StorageError on CR or LF
    RecordWriter& Int(long long v);
    RecordWriter& Double(double v);
    RecordWriter& RawField(std::string_view s);       // written as given (kept bytes of a record)
    RecordWriter& EndLine();                          // CR LF
    RecordWriter& Line(std::string_view whole_line);  // a whole line as given, then CR LF
    // A header line: one quoted string.
    RecordWriter& Header(std::string_view s) { return Text(s).EndLine(); }

    const std::string& str() const { return out_; }
    std::string Take() { return std::move(out_); }

  private:
    void Separator();
    std::string out_;
    bool line_has_field_ = false;
};

// Checks that a text can be stored in a quoted field; returns an empty string when it can,
// otherwise a message for the user naming `what` (for example "The project name").
std::string CheckStorableText(std::string_view text, std::string_view what);

// The text quoted as the writer writes it: "..." with inner quotes doubled.
std::string QuoteField(std::string_view s);

}  // namespace lumivo
