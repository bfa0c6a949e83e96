// Where a report's text goes as it is produced. A long recording reported in 1-minute bins
// makes files of hundreds of megabytes; they are written piece by piece instead of being held
// whole in memory, and still never appear half-written: the text goes to a temporary file
// beside the report, which is flushed to the disk and renamed over the report at the end.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lumivo::reporting {

// The byte-order mark that opens every report file, so that spreadsheet programs read the
// UTF-8 text ("°C") as UTF-8 whatever the system's code page.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

class TextSink {
  public:
    virtual ~TextSink() = default;
    virtual void Write(std::string_view text) = 0;
};

// Keeps the text in memory.
class StringSink final : public TextSink {
  public:
    void Write(std::string_view text) override { text_ += text; }
    const std::string& text() const { return text_; }
    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
};

// Writes `target` as the text comes: a temporary file in the same folder until Commit() flushes
// it to the disk and renames it over `target`. Destroyed without Commit(), the temporary file is
// removed and `target` is left as it was. Failures throw std::runtime_error with a message that
// names `target` and the reason.
class AtomicFileSink final : public TextSink {
  public:
    explicit AtomicFileSink(std::filesystem::path target);
    ~AtomicFileSink() override;
    AtomicFileSink(const AtomicFileSink&) = delete;
    AtomicFileSink& operator=(const AtomicFileSink&) = delete;

    void Write(std::string_view text) override;
    void Commit();

    const std::filesystem::path& target() const { return target_; }

  private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

// Writes to `primary` and to `secondary` (the copy under the experiment's name). A failure of
// the secondary is kept and ends its writing; the primary goes on. Failures of the primary
// throw.
class TeeSink final : public TextSink {
  public:
    TeeSink(TextSink& primary, TextSink* secondary) : primary_(primary), secondary_(secondary) {}
    void Write(std::string_view text) override;
    // Why the secondary stopped ("" while it writes).
    const std::string& secondary_error() const { return secondary_error_; }

  private:
    TextSink& primary_;
    TextSink* secondary_;
    std::string secondary_error_;
};

}  // namespace lumivo::reporting
