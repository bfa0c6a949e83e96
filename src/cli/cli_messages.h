// What lumivo-cli tells its user: every line of every message on stderr starts with
// "lumivo-cli COMMAND: ", whether the command or a core procedure (through its message boxes)
// wrote it.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "core/device/connection.h"
#include "core/device/mod_comm.h"
#include "core/platform/ui_port.h"
#include "core/reporting/report/basal.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

// Writes `text` to `out`, each of its lines (CR LF or LF) prefixed with
// "lumivo-cli COMMAND: ".
void PrintMessage(std::ostream& out, std::string_view command, std::string_view text);
// The same on stderr.
void PrintError(std::string_view command, std::string_view text);

// The message boxes of the core procedures a command runs, printed on stderr. Questions get
// Answer(): OK where OK is offered, Yes otherwise; input boxes their default text.
class CliDialogs : public Dialogs {
  public:
    explicit CliDialogs(std::string command) : command_(std::move(command)) {}

    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;

    const std::string& command() const { return command_; }
    // Called before each message (to end a progress line drawn in place).
    std::function<void()> before_message;

  protected:
    virtual MsgResult Answer(MsgButtons buttons);
    void Print(std::string_view text) const;

  private:
    std::string command_;
};

// The dialogs of a command whose questions its options answer (--yes, --overwrite): messages on
// stderr, input boxes cancelled (a command never prompts).
class OptionDialogs final : public CliDialogs {
  public:
    // `yes_option` is the option that answers Yes; when given, every answer to a Yes/No question
    // is printed with it ("answered No (--yes answers Yes)").
    explicit OptionDialogs(std::string command, std::string yes_option = {})
        : CliDialogs(std::move(command)), yes_option_(std::move(yes_option)) {}

    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;
    void ProcessEvents() override;

    bool yes = false;        // the answer to Yes/No questions, and to OK/Cancel ones
    bool ok_always = false;  // OK/Cancel questions are answered OK whatever `yes` says
    // Runs at every pass of window events a core procedure asks for.
    std::function<void()> process_events;

  protected:
    MsgResult Answer(MsgButtons buttons) override;

  private:
    std::string yes_option_;
};

// The dialogs of lumivo-cli report: the report's questions (basal minutes, zero-basal wells)
// answered from the options. A question the options do not answer ends the report, and
// `missing` says which option is needed.
class ReportDialogs final : public CliDialogs {
  public:
    ReportDialogs() : CliDialogs("report") {}
    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;

    std::optional<long long> basal_minutes;
    std::optional<reporting::ZeroBasalPolicy> zero_basal;
    std::string missing;  // what the user has to add, when a question went unanswered

  private:
    bool asked_ = false;
};

// Why a port could not be opened and what to do about it: the port, the device it stands for,
// the error record's step and text, then advice for the common causes (a regular file or
// folder where the device should be, a missing device, no permission, a port in use).
std::string PortOpenFailure(const std::filesystem::path& install_dir, int port,
                            const std::string& device, const CommErrorRecord& error);

// "no answer from the instrument on COMn (device)" and what to check.
std::string NoInstrumentAnswer(const std::filesystem::path& install_dir, int port,
                               const std::string& device);

// "cannot load project N: <file> ID#<stage>: <reason>", that nothing was changed, and what to
// do.
std::string StoredProjectFailure(int number, const ProjectLoadFailure& failure);

// Opens `port` at `device` ("COMn" for the installation's port n) and checks that the
// instrument answers on it (OpenInstrumentAt). When it does not, prints why and what to do and
// returns false.
bool OpenInstrumentPort(std::string_view command, DeviceLink& link,
                        const std::filesystem::path& install_dir, int port,
                        const std::string& device);

// Loads project `number` from its folder as it is stored (no recovery, no defaults, nothing
// written). When it cannot be loaded, prints which file, how far loading got and why, that
// nothing was changed and what to do, and returns false.
bool LoadStoredProject(StorageContext& storage, std::string_view command, int number,
                       ProjectState& project, PlateMap& plate, SetupUse use);

// The folder of an acquisition named on the command line: a folder path, or "N/yyyymmdd_hhmm"
// and "p0000N/yyyymmdd_hhmm" inside the installation folder; absolute, without a trailing
// separator. Whether it exists is for the caller to check.
std::filesystem::path AcquisitionFolderArgument(const std::filesystem::path& install_dir,
                                                const std::string& text);

}  // namespace lumivo::cli
