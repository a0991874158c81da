#include "renderPreset.h"

#include <array>
#include <cstdlib>
#include <sstream>

namespace tonvert::render {

namespace {

struct FormatName {
    AudioFormat format;
    const char* text;
    const char* extension;
};

constexpr std::array<FormatName, 4> kFormats = {{{AudioFormat::mp3, "MP3", "mp3"},
                                                 {AudioFormat::ogg, "OGG", "ogg"},
                                                 {AudioFormat::wma, "WMA", "wma"},
                                                 {AudioFormat::wav, "WAV", "wav"}}};

bool readNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

std::vector<RenderPreset> buildTable() {
    std::vector<RenderPreset> table;
    const auto fourRows = [&](AudioFormat format, int kbps) {
        table.push_back({format, kbps, 44100, true, 2});
        table.push_back({format, kbps, 44100, false, 2});
        table.push_back({format, kbps, 44100, true, 1});
        table.push_back({format, kbps, 44100, false, 1});
    };
    for (int kbps : {320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56})
        fourRows(AudioFormat::mp3, kbps);
    for (int kbps : {500, 350, 256, 224, 192, 160, 128, 112, 96, 64})
        fourRows(AudioFormat::ogg, kbps);
    const int wma[][3] = {{192, 48000, 2}, {160, 48000, 2}, {128, 48000, 2}, {192, 44100, 2},
                          {160, 44100, 2}, {128, 44100, 2}, {96, 44100, 2},  {80, 44100, 2},
                          {64, 44100, 2},  {48, 44100, 2},  {32, 44100, 2},  {48, 44100, 1},
                          {32, 44100, 1},  {48, 32000, 2},  {40, 32000, 2},  {32, 32000, 2},
                          {20, 32000, 1},  {32, 22050, 2},  {22, 22050, 2},  {20, 22050, 2},
                          {20, 22050, 1},  {16, 22050, 1}};
    for (const auto& row : wma)
        table.push_back({AudioFormat::wma, row[0], row[1], false, row[2]});
    const int wav[][3] = {{1500, 48000, 2}, {750, 48000, 1}, {1378, 44100, 2},
                          {689, 44100, 1},  {703, 22050, 2}, {352, 22050, 1}};
    for (const auto& row : wav)
        table.push_back({AudioFormat::wav, row[0], row[1], false, row[2]});
    return table;
}

} // namespace

std::optional<RenderPreset> parsePreset(const std::string& text) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    for (std::string field; std::getline(stream, field, ',');)
        fields.push_back(field);
    if (fields.size() != 5 || text.back() == ',')
        return std::nullopt;
    RenderPreset preset;
    bool known = false;
    for (const FormatName& format : kFormats)
        if (fields[0] == format.text) {
            preset.format = format.format;
            known = true;
        }
    if (!known || !readNumber(fields[1], 8, 2000, preset.bitrateKbps) ||
        !readNumber(fields[2], 8000, 96000, preset.sampleRate) ||
        (fields[3] != "V" && fields[3] != "C") || !readNumber(fields[4], 1, 2, preset.channels))
        return std::nullopt;
    preset.variableBitrate = fields[3] == "V";
    return preset;
}

std::string presetText(const RenderPreset& preset) {
    std::string format;
    for (const FormatName& f : kFormats)
        if (f.format == preset.format)
            format = f.text;
    return format + "," + std::to_string(preset.bitrateKbps) + "," +
           std::to_string(preset.sampleRate) + "," + (preset.variableBitrate ? "V" : "C") + "," +
           std::to_string(preset.channels);
}

const std::vector<RenderPreset>& presetTable() {
    static const std::vector<RenderPreset> table = buildTable();
    return table;
}

const char* fileExtension(AudioFormat format) {
    for (const FormatName& f : kFormats)
        if (f.format == format)
            return f.extension;
    return "bin";
}

} // namespace tonvert::render
