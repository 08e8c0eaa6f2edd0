// Writing a pixel buffer through the exporter that answers to a codec.
#pragma once

#include <cstdint>
#include <string>

#include "imageio/export_settings.h"
#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/user_data.h"

// beforeWrite, when given, is asked after encoding and before the file is
// written; anything but noErr is answered instead, with no file written.
int32_t ExportImage(GWorldPtr gw, const ExportSettings& settings, UserData ud,
                    const std::string& outputPath, OSErr (*beforeWrite)(void* cookie) = nullptr,
                    void* cookie = nullptr);
// The first exporter whose extension or subtype matches the codec, opened,
// with quality and depth set; nullptr when none answers.
ComponentInstance FindExporter(const ExportSettings& settings);
bool CodecMatches(OSType a, OSType b);
// Whether the exporter that answers to the settings' codec reads the
// buffer's rows from the top, following a buffer still being filled.
bool ExportEncodesInBands(const ExportSettings& settings);
OSErr OutputPathToFSSpec(const std::string& path, FSSpec* spec);
