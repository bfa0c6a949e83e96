// The tables a report is computed from and written with: the activity of one acquisition per
// record or per bin, the project tables the report needs (groups, plate map, names), and the
// group statistics. They are the report's own copies: the computation needs no storage or
// analysis header, only the channel counts of the ground floor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/common/channels.h"

namespace lumivo::reporting {

// Channels 0..kChannelCount - 1 are beams; a row of a counts record has kChannelTableSize
// entries, the last being the temperature in tenths of a degree.
// The free group: channels with a negative group or group 999 belong to no group of the report.
inline constexpr int kFreeGroupNumber = 999;
// The largest group number a channel can carry.
inline constexpr int kLastGroupNumber = 383;
// A discarded channel (zero basal) carries this value in every bin.
inline constexpr std::int32_t kDiscardedCount = -999;
// Percentages of basal activity are capped here.
inline constexpr std::int32_t kMaxBasalPercent = 10000;

// counts.bin as loaded: one entry per record, counts kept in their 16-bit file type.
struct RecordTable {
    std::vector<std::int32_t> minutes;      // day-adjusted minutes per record
    std::vector<std::int16_t> counts;       // [record * kChannelTableSize + channel], 0..383 used
    std::vector<std::int16_t> temperature;  // tenths of a degree per record

    std::size_t size() const { return minutes.size(); }
    std::int16_t count(std::size_t record, std::size_t channel) const {
        return counts[record * kChannelTableSize + channel];
    }
};

// The re-binned activity: bin k (from 0) holds the minutes after k x bin size up to (k + 1) x
// bin size and ends at that minute. Counts are 32-bit: a busy channel in a long bin overflows
// the 16 bits of a record. A missing bin (not covered by the recording) holds 0 in its tables
// and 0 in `present`: its counts are not zero activity, they are unknown.
struct BinTable {
    std::vector<std::int32_t> minutes;
    std::vector<std::int32_t> counts;       // [bin * kChannelTableSize + channel], 0..383 used
    std::vector<std::int16_t> temperature;  // tenths of a degree, 0 when none was recorded
    std::vector<std::int32_t> records;      // records whose minute the bin holds
    std::vector<std::uint8_t> present;      // 1 when the recording covers the bin
    double window_minutes = 0.0;            // the recording's window length

    std::size_t size() const { return minutes.size(); }
    void Resize(std::size_t bins) {
        minutes.assign(bins, 0);
        counts.assign(bins * kChannelTableSize, 0);
        temperature.assign(bins, 0);
        records.assign(bins, 0);
        present.assign(bins, 0);
    }
    bool Present(std::size_t bin) const { return bin < present.size() && present[bin] != 0; }
    std::int32_t& count(std::size_t bin, std::size_t channel) {
        return counts[bin * kChannelTableSize + channel];
    }
    std::int32_t count(std::size_t bin, std::size_t channel) const {
        return counts[bin * kChannelTableSize + channel];
    }
};

// The project tables of the acquisition folder that a report needs.
struct ReportInputs {
    std::string plate_format;
    std::vector<std::string> group_names = std::vector<std::string>(kChannelTableSize);
    // Group of each channel: 0..383, or a negative value / 999 for no group.
    std::vector<std::int16_t> channel_group = std::vector<std::int16_t>(kChannelTableSize, -1);
    // Well of each channel, -1 when the channel lies in no well.
    std::vector<std::int16_t> channel_well = std::vector<std::int16_t>(kChannelTableSize, -1);
    int plate_rows = 8;
    int plate_columns = 12;
    int max_well_index = -1;
    int max_beam_index = 0;
    // Channel of beam b of well w at [w * (max_beam_index + 1) + b], -1 when none.
    std::vector<std::int16_t> well_channel;
    std::vector<std::string> well_names;  // "A1", ... for wells 0..max_well_index
    std::string experiment_name;          // first field of subproj.dat ("" when missing)
    std::string project_name;             // the setup's project name
    int rt_buffer = 500;                  // the setup's RT_Buffer: readings per raw window

    int beams_per_well() const { return max_beam_index + 1; }
    int WellChannel(int well, int beam) const {
        if (well < 0 || well > max_well_index || beam < 0 || beam > max_beam_index) return -1;
        return well_channel[static_cast<std::size_t>(well * beams_per_well() + beam)];
    }
    // The channel of the well's first beam, -1 when none.
    int FirstChannel(int well) const { return WellChannel(well, 0); }
    bool InGroup(int channel) const {
        const int g = channel_group[static_cast<std::size_t>(channel)];
        return g >= 0 && g != kFreeGroupNumber;
    }
};

// What ComputeGroupStatistics leaves for the writer. Groups are 0..group_count - 1; report bins
// are 1..bin_count (index 0 unused), bin k covering the minutes up to k x bin size.
struct GroupStatistics {
    int group_count = 0;
    int bin_count = 0;
    std::vector<std::int32_t> wells;        // per group
    std::vector<std::int32_t> mean;         // [group * (bin_count + 1) + bin]
    std::vector<std::int32_t> sd;           // same layout
    std::vector<bool> bin_present;          // per report bin
    std::vector<std::int32_t> samples;      // records that fell into each report bin
    std::vector<std::int16_t> temperature;  // tenths of a degree per report bin
    // Per-well activity per report bin: [well * (bin_count + 1) + bin]; wells without a channel
    // hold 0.
    std::vector<std::int32_t> well_activity;
    // Per-channel counts per report bin: [bin * kChannelTableSize + channel].
    std::vector<std::int32_t> channel_activity;

    std::size_t At(int group, int bin) const {
        return static_cast<std::size_t>(group) * static_cast<std::size_t>(bin_count + 1) +
               static_cast<std::size_t>(bin);
    }
    std::int32_t Mean(int group, int bin) const { return mean[At(group, bin)]; }
    std::int32_t Sd(int group, int bin) const { return sd[At(group, bin)]; }
    std::int32_t WellValue(int well, int bin) const {
        return well_activity[static_cast<std::size_t>(well) *
                                 static_cast<std::size_t>(bin_count + 1) +
                             static_cast<std::size_t>(bin)];
    }
    std::int32_t ChannelValue(int channel, int bin) const {
        return channel_activity[static_cast<std::size_t>(bin) * kChannelTableSize +
                                static_cast<std::size_t>(channel)];
    }
};

}  // namespace lumivo::reporting
