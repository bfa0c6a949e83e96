// lumivo-cli acquisitions | acquisition show|rename|archive | join: the offline browser's list,
// summary, housekeeping and join, headless, through the same core as the browser window.
// Messages go to stderr; questions are answered by --yes (No/Cancel without it), never by a
// prompt.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "core/acquisition/record_file_io.h"
#include "core/offline/acquisition_browser.h"
#include "core/offline/join_acquisitions.h"
#include "core/setup/project_ops.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/project_setup.h"

namespace lumivo::cli {

namespace {

namespace fs = std::filesystem;
using namespace lumivo::offline;

class OfflineDialogs final : public CliDialogs {
  public:
    explicit OfflineDialogs(std::string command) : CliDialogs(std::move(command)) {}
    std::optional<std::string> InputBox(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    bool answer_yes = false;
    bool declined = false;  // a question was answered No or Cancel

  protected:
    MsgResult Answer(MsgButtons buttons) override {
        if (buttons == MsgButtons::Ok) return MsgResult::Ok;
        if (!answer_yes) {
            declined = true;
            Print("answered " + std::string(buttons == MsgButtons::OkCancel ? "Cancel" : "No") +
                  " (--yes answers " + (buttons == MsgButtons::OkCancel ? "OK" : "Yes") + ")");
            return buttons == MsgButtons::OkCancel ? MsgResult::Cancel : MsgResult::No;
        }
        return buttons == MsgButtons::OkCancel ? MsgResult::Ok : MsgResult::Yes;
    }
};

// What every command of this file works with.
struct Offline {
    Offline(const fs::path& install, const char* command)
        : dialogs(command), storage{install, dialogs, files, {}} {}
    OfflineDialogs dialogs;
    LocalFileSystem files;
    StorageContext storage;
};

// An acquisition named on the command line: a folder path, or "N/yyyymmdd_hhmm" and
// "p0000N/yyyymmdd_hhmm" inside the installation folder. Throws UsageError naming what is wrong.
AcquisitionRef ResolveAcquisition(const fs::path& install, const std::string& text) {
    const fs::path p = AcquisitionFolderArgument(install, text);
    std::error_code ec;
    if (!fs::is_directory(p, ec))
        throw UsageError("no acquisition \"" + text +
                         "\" (give its folder, or PROJECT/yyyymmdd_hhmm, for example 1/" +
                         "20260314_1000)");
    const AcquisitionRef ref{p.parent_path(), p.filename().string()};
    LocalFileSystem files;
    if (!HoldsAcquisition(files, p))
        throw UsageError(
            p.string() +
            " is not an acquisition folder (a folder yyyymmdd_hhmm holding counts.bin)");
    if (!ProjectNumberOfFolder(ref.project_folder()))
        throw UsageError(p.string() + " does not lie in a project folder (pNNNNN)");
    return ref;
}

int ProjectArgument(const std::optional<long long>& n, Offline& o, std::string& folder) {
    folder = "p" + FiveDigits(*n);
    if (!o.files.IsFile(o.storage.install_dir / folder / kProjectSetupFile)) {
        PrintError("acquisitions", "no project " + std::to_string(*n) + " (" +
                                       (o.storage.install_dir / folder).string() +
                                       " holds no setup.dat)");
        return 1;
    }
    return 0;
}

}  // namespace

int RunAcquisitions(Args& args) {
    const auto project = args.TakeInt("project", 1, kLastProjectNumber);
    const bool by_date = args.TakeFlag("by-date");
    const auto filter = args.TakeOption("filter");
    args.ExpectEnd();
    if (by_date && !project)
        throw UsageError("--by-date lists the acquisitions of one project: give --project N");
    Offline o(args.install_dir(), "acquisitions");
    BrowserState s;
    std::string folder;
    if (project && ProjectArgument(project, o, folder) != 0) return 1;
    std::vector<std::string> lines;
    if (by_date) {
        s.current_project = folder;
        BuildDateView(o.storage, s);
        const auto words = FilterWords(filter.value_or(""));
        for (const std::string& e : s.entries)
            if (words.empty() || EntryMatches(e, words)) lines.push_back(e);
    } else {
        s.project_folders = FindProjectFolders(o.storage);
        s.expanded.assign(s.project_folders.size(), false);
        for (std::size_t i = 0; i < s.project_folders.size(); ++i)
            s.expanded[i] = !project || s.project_folders[i] == folder;
        if (filter)
            ApplyFilter(o.storage, s, *filter);
        else
            BuildProjectTree(o.storage, s);
        bool inside = !project;
        for (const std::string& e : s.entries) {
            if (project && !e.empty() && e.front() == '+')
                inside = ProjectFolderOfEntry(e) == folder;
            if (inside) lines.push_back(e);
        }
    }
    for (const std::string& l : lines) std::cout << l << "\n";
    if (lines.empty())
        PrintError("acquisitions", filter ? "nothing matches \"" + *filter + "\""
                                          : "no acquisitions in " + args.install_dir().string());
    return 0;
}

namespace {

int Show(Args& args) {
    const auto text = args.TakePositional();
    if (!text) throw UsageError("the acquisition is missing");
    args.ExpectEnd();
    Offline o(args.install_dir(), "acquisition");
    const AcquisitionRef ref = ResolveAcquisition(args.install_dir(), *text);
    const auto opened = OpenAcquisition(
        o.storage, ref,
        TreeAcquisitionEntry(ref.folder, ReadAcquisitionTitle(o.storage, ref.path())));
    if (!opened) return 1;
    for (const std::string& line : opened->summary) std::cout << line << "\n";
    std::cout << ref.path().string() << "\n";
    return 0;
}

int Rename(Args& args) {
    const auto text = args.TakePositional();
    const auto name = args.TakePositional();
    if (!text) throw UsageError("the acquisition is missing");
    if (!name) throw UsageError("the new name is missing");
    args.ExpectEnd();
    if (name->empty()) throw UsageError("the new name is empty");
    Offline o(args.install_dir(), "acquisition");
    const AcquisitionRef ref = ResolveAcquisition(args.install_dir(), *text);
    if (!RenameAcquisitionTitle(o.storage, ref.path(), *name)) return 1;
    std::cout << DateViewEntry(ref.folder, *name) << "\n";
    return 0;
}

int Archive(Args& args) {
    const bool yes = args.TakeFlag("yes");
    const auto text = args.TakePositional();
    if (!text) throw UsageError("the acquisition is missing");
    args.ExpectEnd();
    Offline o(args.install_dir(), "acquisition");
    o.dialogs.answer_yes = yes;
    const AcquisitionRef ref = ResolveAcquisition(args.install_dir(), *text);
    SystemClock clock;
    const auto archived = ArchiveAcquisition(o.storage, clock, ref.path());
    if (!archived) {
        if (o.dialogs.declined) PrintError("acquisition", "nothing was archived");
        return 1;
    }
    std::cout << archived->string() << "\n";
    return 0;
}

}  // namespace

int RunAcquisition(Args& args) {
    const auto verb = args.TakePositional();
    if (!verb) throw UsageError("show, rename or archive is missing");
    if (*verb == "show") return Show(args);
    if (*verb == "rename") return Rename(args);
    if (*verb == "archive") return Archive(args);
    throw UsageError("unknown \"" + *verb + "\": show, rename or archive");
}

int RunJoin(Args& args) {
    const bool yes = args.TakeFlag("yes");
    std::vector<std::string> texts;
    while (auto t = args.TakePositional()) texts.push_back(*t);
    args.ExpectEnd();
    if (texts.size() < 2) throw UsageError("give at least two acquisitions to join");
    Offline o(args.install_dir(), "join");
    o.dialogs.answer_yes = yes;
    std::vector<JoinSource> sources;
    fs::path project;
    for (const std::string& t : texts) {
        const AcquisitionRef ref = ResolveAcquisition(args.install_dir(), t);
        if (project.empty()) project = ref.project_path;
        if (ref.project_path != project)
            throw UsageError("the acquisitions belong to different projects (" + project.string() +
                             ", " + ref.project_path.string() +
                             "): only one project's can be joined");
        if (std::any_of(sources.begin(), sources.end(),
                        [&](const JoinSource& s) { return s.folder == ref.folder; }))
            throw UsageError(ref.folder + " is named twice");
        sources.push_back(
            {DateViewEntry(ref.folder, ReadAcquisitionTitle(o.storage, ref.path())), ref.folder});
    }
    PosixFileOps ops;
    SystemClock clock;
    const JoinOutcome out = JoinAcquisitions(o.storage, ops, clock, project, std::move(sources));
    if (!out.joined) {
        if (o.dialogs.declined) PrintError("join", "nothing was joined");
        return 1;
    }
    std::cout << out.folder.string() << "\n";
    return 0;
}

}  // namespace lumivo::cli
