#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "audioEncoder.h"

namespace tonvert::render {

std::unique_ptr<AudioEncoder> makeMp3Encoder();
std::unique_ptr<AudioEncoder> makeOggEncoder();
std::unique_ptr<AudioEncoder> makeWmaEncoder();
std::unique_ptr<AudioEncoder> makeWavEncoder();

// "44100 Hz, 2 channels" for the end of a settings text.
std::string rateAndChannels(int sampleRate, int channels);

// Closes an encoder's output file. False, with `error` naming the format, when the close
// fails after everything before it went well (`ok`); `file` is cleared either way.
bool closeOutput(std::FILE*& file, const char* format, bool ok, std::string& error);

// Rates and channel counts the encoders take at all; empty when fine, else why not.
std::string unsupportedShape(const RenderPreset& preset);

} // namespace tonvert::render
