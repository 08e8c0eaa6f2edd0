// Writing a pixel buffer through the exporter that answers to a codec.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "imageio/export_settings.h"
#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/image_format.h"
#include "platform/user_data.h"
#include "stream/row_band.h"

int32_t ExportImage(GWorldPtr gw, const ExportSettings& settings, UserData ud,
                    const std::string& outputPath);
// The file ExportImage would write, encoded into bytes instead (replacing
// what they held); then those bytes written to outputPath as an export
// writes its file (whole or not at all; "-" the standard output).
int32_t EncodeImage(GWorldPtr gw, const ExportSettings& settings, UserData ud,
                    std::vector<uint8_t>* bytes);
int32_t WriteEncodedFile(const std::string& outputPath, std::span<const uint8_t> bytes);
// The same for rows that another stage may still be filling, read from the
// top. beforeWrite, when given, is asked after encoding and before the file
// is written; anything but noErr is answered instead, with no file written.
int32_t ExportRows(RowBand* rows, const ExportSettings& settings, UserData ud,
                   const std::string& outputPath, std::function<OSErr()> beforeWrite);
// The first exporter whose extension or subtype matches the codec, opened,
// with quality and depth set; nullptr when none answers.
ComponentInstance FindExporter(const ExportSettings& settings);
bool CodecMatches(OSType a, OSType b);
// Whether the exporter that answers to the codec writes animations.
bool CodecWritesAnimation(OSType codec);
// The format of the exporter that answers to the codec; nullptr for none.
const ImageFormat* ExportFormat(OSType codec);
// "/c auto": the exporter is chosen by the output name's extension.
constexpr OSType kCodecFromFileName = FourCC("auto");
// The subtype of the first exporter that claims the extension of the file
// name (after its last dot, in any case); 0 when none does.
OSType CodecForFileName(const std::string& path);
// "-" names the standard output.
OSErr OutputPathToFSSpec(const std::string& path, FSSpec* spec);
