#include "core/reporting/report/report_inputs.h"

#include <algorithm>
#include <utility>

#include "core/storage/acquisition_register.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

// Reads of one file are served from another: the plate reader opens "<format>.dat", and the
// backup "<format>.bak" is read in its place.
class RedirectedRead final : public FileSystem {
  public:
    RedirectedRead(FileSystem& inner, fs::path from, fs::path to)
        : inner_(inner), from_(std::move(from)), to_(std::move(to)) {}
    std::string ReadFile(const fs::path& p) override {
        return inner_.ReadFile(p == from_ ? to_ : p);
    }
    void WriteFiles(std::span<const FileContent> files) override { inner_.WriteFiles(files); }
    bool IsFile(const fs::path& p) override { return inner_.IsFile(p); }
    bool IsFolder(const fs::path& p) override { return inner_.IsFolder(p); }
    std::vector<std::string> ListSubfolders(const fs::path& p) override {
        return inner_.ListSubfolders(p);
    }
    std::vector<std::string> ListFiles(const fs::path& p) override { return inner_.ListFiles(p); }
    bool CreateFolders(const fs::path& p) override { return inner_.CreateFolders(p); }
    std::optional<std::uint64_t> FreeBytes(const fs::path& p) override {
        return inner_.FreeBytes(p);
    }

  private:
    FileSystem& inner_;
    fs::path from_;
    fs::path to_;
};

// Reads the plate map: "<format>.dat", else "<format>.bak". Returns an empty string on success,
// otherwise the message to show.
std::string ReadPlate(StorageContext& ctx, const std::string& format, PlateMap& plate) {
    const std::string not_found =
        "Multiwell Configuration File " + format + ".dat or .bak not found";
    if (!IsValidPlateFormatName(format)) return not_found;
    const fs::path dat = ctx.install_dir / (format + ".dat");
    const fs::path bak = ctx.install_dir / (format + ".bak");
    std::string error;
    if (ctx.files.IsFile(dat)) {
        try {
            ReadPlateFormatFile(ctx, format, plate);
            return {};
        } catch (const StorageError& e) {
            error = "Error reading Multiwell Configuration File " + format + ".dat: " + e.what();
        }
    }
    if (ctx.files.IsFile(bak)) {
        RedirectedRead redirected(ctx.files, dat, bak);
        StorageContext backup{ctx.install_dir, ctx.dialogs, redirected, ctx.list_separator_source};
        try {
            ReadPlateFormatFile(backup, format, plate);
            return {};
        } catch (const StorageError& e) {
            error = "Error reading Multiwell Configuration File " + format + ".bak: " + e.what();
        }
    }
    return error.empty() ? not_found : error;
}

}  // namespace

std::string ReadExperimentName(StorageContext& ctx, const fs::path& folder) {
    return ReadAcquisitionTitle(ctx, folder);
}

std::optional<ReportInputs> LoadReportInputs(StorageContext& ctx, const fs::path& folder,
                                             std::string* failure_message) {
    // The loaders are given project number 0: an acquisition's own files are never "restored"
    // from the project folder or from other acquisitions by a report.
    AcquisitionFileDialogs dialogs(ctx.dialogs);
    StorageContext quiet{ctx.install_dir, dialogs, ctx.files, ctx.list_separator_source};
    // Without its setup the acquisition's plate is not known: the default plate would be read
    // in its place and the message would name a plate file instead.
    if (const fs::path setup = folder / "setup.dat"; !ctx.files.IsFile(setup)) {
        const std::string failure =
            "The acquisition's setup.dat is missing: " + setup.string() +
            " does not exist, and a report needs its plate format and groups. Copy the setup.dat "
            "the acquisition was recorded with (its project's, " +
            (folder.parent_path() / "setup.dat").string() +
            ", if unchanged since) into its folder.";
        ctx.dialogs.MessageBox(failure);
        if (failure_message) *failure_message = failure;
        return std::nullopt;
    }
    ProjectState project;
    project.ProjectFolder = folder;
    // Acquisitions of older versions may hold RT_Buffer 200..499: fine for a report.
    LoadProjectSetup(quiet, 0, 0, project, SetupUse::Reading);
    LoadGroupNames(quiet, 0, project);
    LoadChannelGroups(quiet, 0, project);

    PlateMap plate;
    const std::string failure = ReadPlate(ctx, project.Setup.Plate_format, plate);
    if (!failure.empty()) {
        ctx.dialogs.MessageBox(failure);
        if (failure_message) *failure_message = failure;
        return std::nullopt;
    }

    ReportInputs in;
    in.plate_format = project.Setup.Plate_format;
    in.project_name = project.Setup.Name;
    in.rt_buffer = project.Setup.RT_Buffer;
    for (std::size_t i = 0; i < kChannelTableSize; ++i) {
        in.group_names[i] = project.GroupName[i];
        in.channel_group[i] = project.ChannelGroup[i];
        in.channel_well[i] = plate.ChannelWell[i];
    }
    in.channel_well[kChannelTableSize - 1] = -1;  // entry 384 is the temperature, not a beam
    in.plate_rows = plate.PlateRows;
    in.plate_columns = plate.PlateColumns;
    in.max_beam_index = std::max<int>(0, plate.MaxBeamIndex);
    in.max_well_index = -1;
    for (int c = 0; c < kChannelCount; ++c)
        in.max_well_index =
            std::max<int>(in.max_well_index, in.channel_well[static_cast<std::size_t>(c)]);
    in.max_well_index = std::max<int>(in.max_well_index, plate.MaxWellIndex);
    const int wells = in.max_well_index + 1;
    in.well_channel.assign(static_cast<std::size_t>(wells * in.beams_per_well()), -1);
    for (int w = 0; w < wells; ++w)
        for (int b = 0; b <= in.max_beam_index; ++b)
            in.well_channel[static_cast<std::size_t>(w * in.beams_per_well() + b)] =
                plate.WellChannel(w, b);
    in.well_names.reserve(static_cast<std::size_t>(wells));
    for (int w = 0; w < wells; ++w) in.well_names.push_back(WellName(plate, w));
    in.experiment_name = ReadAcquisitionTitle(ctx, folder);
    return in;
}

}  // namespace lumivo::reporting
