#include "core/storage/field_record.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

using namespace lumivo;

namespace {

std::vector<std::string> Texts(std::string_view line) {
    std::vector<std::string> out;
    for (const auto& f : SplitRecord(line)) out.push_back(f.text);
    return out;
}

}  // namespace

TEST(FieldRecord, SplitsLinesIntoFields) {
    struct Case {
        std::string line;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"3,5,4,0", {"3", "5", "4", "0"}},
        {"\"Config: <a>, <b>,<c>\"", {"Config: <a>, <b>,<c>"}},  // commas inside quotes
        {"0,\"Default\",\"C:\\lmv\\\",\"w96f\"", {"0", "Default", "C:\\lmv\\", "w96f"}},
        {"1,\"\",2", {"1", "", "2"}},  // empty string
        {"\"Mn4: ,,,,,\"", {"Mn4: ,,,,,"}},
        {"  7 , -3 ", {"7", "-3"}},                          // blanks around numbers
        {"1,\"a \"\"b\"\" c\",2", {"1", "a \"b\" c", "2"}},  // doubled quotes
        {"1,\"a\"b\",2", {"1", "a", "2"}},  // old file with a raw quote: the fields stay aligned
        {"1,,2", {"1", "", "2"}},
        {"1,", {"1", ""}},
        {"", {""}},
    };
    for (const auto& c : cases) EXPECT_EQ(Texts(c.line), c.texts) << c.line;
}

TEST(FieldRecord, RawBytesOfAFieldAreKept) {
    const auto f = SplitRecord("3, \"Name, x\" ,\"w96f\"");
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[1].raw, " \"Name, x\" ");
    EXPECT_TRUE(f[1].quoted);
    EXPECT_FALSE(f[0].quoted);
}

TEST(FieldRecord, UnterminatedQuoteIsAnError) {
    EXPECT_THROW(SplitRecord("1,\"abc"), StorageError);
    EXPECT_THROW(SplitRecord("\""), StorageError);
}

TEST(FieldRecord, NumbersParseWholeOrNotAtAll) {
    struct Case {
        std::string text;
        bool ok;
        long long value;
    };
    const Case ints[] = {
        {"0", true, 0},         {"-1", true, -1},         {"+12", true, 12},   {" 42 ", true, 42},
        {"32767", true, 32767}, {"-32768", true, -32768}, {"32768", false, 0}, {"", false, 0},
        {"12abc", false, 0},    {"1.5", false, 0},        {"abc", false, 0},   {"- 1", false, 0},
    };
    for (const auto& c : ints) {
        Field f;
        f.text = c.text;
        if (c.ok)
            EXPECT_EQ(FieldToInt16(f), c.value) << c.text;
        else
            EXPECT_THROW(FieldToInt16(f), StorageError) << c.text;
    }
    const std::pair<std::string, double> doubles[] = {{"2.346", 2.346}, {"3", 3.0},  {"-0.5", -0.5},
                                                      {"1e-05", 1e-05}, {".5", 0.5}, {"+4", 4.0}};
    for (const auto& [text, v] : doubles) {
        Field f;
        f.text = text;
        EXPECT_DOUBLE_EQ(FieldToDouble(f), v) << text;
    }
    for (const char* bad : {"", "1,5", "nan", "inf", "1e999", "3x", "--1"}) {
        Field f;
        f.text = bad;
        EXPECT_THROW(FieldToDouble(f), StorageError) << bad;
    }
}

TEST(FieldRecord, DoublesAreShortestRoundTripWithPointWhateverTheLocale) {
    // A comma-decimal locale must not change the files (skipped where none is installed).
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    const bool comma_locale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(FormatDouble(2.346), "2.346");
    EXPECT_EQ(FormatDouble(3.0), "3");
    EXPECT_EQ(FormatDouble(-0.0), "0");
    EXPECT_EQ(FormatDouble(0.1), "0.1");
    EXPECT_EQ(FormatDouble(1e-05), "1e-05");
    Field f;
    f.text = "2.5";
    EXPECT_DOUBLE_EQ(FieldToDouble(f), 2.5);
    std::setlocale(LC_ALL, saved.c_str());
    if (!comma_locale) GTEST_LOG_(INFO) << "de_DE.UTF-8 not installed; ran in the C locale";
    EXPECT_THROW(FormatDouble(std::numeric_limits<double>::infinity()), StorageError);
}

TEST(FieldRecord, RoundingToThreeDecimalsHalvesToEven) {
    EXPECT_EQ(FormatDouble(RoundDecimals(2.34567, 3)), "2.346");
    EXPECT_EQ(FormatDouble(RoundDecimals(0.0625, 3)), "0.062");  // exact half: to even
    EXPECT_EQ(FormatDouble(RoundDecimals(0.1875, 3)), "0.188");  // exact half: to even
    EXPECT_EQ(FormatDouble(RoundDecimals(-1.23449, 3)), "-1.234");
    EXPECT_EQ(FormatDouble(RoundDecimals(-0.0001, 3)), "0");
}

TEST(FieldRecord, LinesEndAtLfWithOrWithoutCr) {
    struct Case {
        std::string content;
        std::size_t lines;
    };
    const Case cases[] = {{"", 0},       {"a", 1},         {"a\r\n", 1}, {"a\r\nb", 2},
                          {"a\nb\n", 2}, {"a\r\n\r\n", 2}, {"\r\n", 1}};
    for (const auto& c : cases) EXPECT_EQ(LineText(c.content).size(), c.lines) << c.content;
    EXPECT_EQ(LineText("x\r\ny\r\n")[1], "y");
}

TEST(FieldRecord, ReaderTakesFieldsByPositionAndChecksEndOfFile) {
    RecordReader in("\"hdr\"\r\n1,2\r\n1,2,3\r\n4\r\n\r\n");
    in.SkipLine();
    EXPECT_EQ(in.Record(2).size(), 2u);
    EXPECT_TRUE(in.HasData());
    const auto extra = in.Record(2);  // a third field is ignored
    ASSERT_EQ(extra.size(), 2u);
    EXPECT_EQ(extra[1].text, "2");
    EXPECT_THROW(in.Record(2), StorageError);  // one field where two are expected
    EXPECT_FALSE(in.HasData());                // a trailing blank line is the end
    RecordReader empty("");
    EXPECT_THROW(empty.SkipLine(), StorageError);
}

TEST(FieldRecord, FieldStreamIgnoresLineEnds) {
    FieldStream s("\"t1\"\r\n\"t2\"\r\n8,2,\r\n-0.5\r\n\r\n3,4\r\n");
    std::vector<std::string> got;
    while (s.HasData()) got.push_back(s.Next().text);
    EXPECT_EQ(got, (std::vector<std::string>{"t1", "t2", "8", "2", "", "-0.5", "3", "4"}));
    EXPECT_THROW(s.Next(), StorageError);
}

TEST(FieldRecord, WriterQuotesEscapesAndEndsLinesWithCrLf) {
    RecordWriter w;
    w.Header("<Channel>, <Threshold>");
    w.Int(3).Text("Dose, \"high\"").Double(2.5).EndLine();
    EXPECT_EQ(w.str(), "\"<Channel>, <Threshold>\"\r\n3,\"Dose, \"\"high\"\"\",2.5\r\n");
    // What the writer writes, the reader reads back unchanged.
    RecordReader in(w.str());
    in.SkipLine();
    const auto f = in.Record(3);
    EXPECT_EQ(f[1].text, "Dose, \"high\"");
}

TEST(FieldRecord, LineBreaksInTextsAreRefused) {
    RecordWriter w;
    EXPECT_THROW(w.Text("two\nlines"), StorageError);
    EXPECT_THROW(w.Text("cr\r"), StorageError);
    EXPECT_TRUE(CheckStorableText("a, \"b\"", "The name").empty());
    const std::string msg = CheckStorableText("a\nb", "The project name");
    EXPECT_NE(msg.find("The project name"), std::string::npos);
    EXPECT_NE(msg.find("line break"), std::string::npos);
}
