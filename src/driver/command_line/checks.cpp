#include "driver/command_line/checks.h"

#include <algorithm>
#include <string>

#include "base/pixel_view.h"
#include "driver/command_line/crop_window.h"
#include "driver/command_line/format_list.h"
#include "driver/command_line/number_text.h"
#include "driver/command_line/refusals.h"
#include "driver/command_line/web_output.h"
#include "driver/job/source_cost.h"
#include "imageio/export.h"
#include "imageio/import.h"
#include "metadata/orientation.h"
#include "platform/graphics_import.h"

namespace {

// The single-precision 0.01, widened: 0.00999999977648258209228515625.
constexpr double kPercentFactor = double(0.01f);

void Fail(JobSettings& s, std::vector<Note>& notes, std::string text) {
  notes.push_back({NoteKind::kMessage, std::move(text)});
  ++s.errorCount;
}

// Bounds that let the size arithmetic run when there is nothing to probe.
void SetStandInBounds(OutputGeometry* geometry) {
  *geometry = StoredGeometry(2, 2, 1);
}

// What the checks learn of the source beyond its bounds.
struct SourceTraits {
  bool hasAlpha = false;
  bool deep = false;  // 16 bits a channel
  const ImageFormat* format = nullptr;
  bool drawsScaled = false;  // its importer can decode it at 1/2, 1/4 or 1/8
};

// The stored bounds, and with "//upright" the orientation that puts the
// picture upright; with "//web" whether it holds alpha and 16-bit samples;
// with "//shrink-on-load" whether it can be decoded scaled.
int32_t ProbeGeometry(const std::string& path, bool upright, bool web, bool shrink,
                      OutputGeometry* geometry, SourceTraits* traits) {
  Rect bounds;
  int32_t orientation = 1;
  if (upright || web || shrink) {
    OpenedImport opened;
    if (const int32_t err = OpenImport(path, &opened)) return err;
    bounds = opened.bounds;
    if (upright) orientation = StoredOrientation(opened.importer);
    traits->hasAlpha = opened.hasAlpha;
    traits->deep = PixelSizeOfFormat(opened.format) > 32;
    traits->format = GraphicsImportFormat(opened.importer);
    traits->drawsScaled = shrink && GraphicsImportDrawsScaled(opened.importer);
  } else if (const int32_t err = ProbeSource(path, &bounds, &traits->format)) {
    return err;
  }
  *geometry = StoredGeometry(int32_t(int64_t(bounds.right) - bounds.left),
                             int32_t(int64_t(bounds.bottom) - bounds.top), orientation);
  return noErr;
}

void CheckInput(JobSettings& s, std::vector<Note>& notes, SourceTraits* traits, InputProbe* probe,
                OutputGeometry* source) {
  if (!s.inputPath) {
    Fail(s, notes, "No input file specified\n");
    SetStandInBounds(source);
    return;
  }
  // A file beyond the byte limit is not read, not even for its header: the
  // job refuses it (driver/job/source_cost.h).
  if (OverByteLimit(s.limits, RegularFileBytes(*s.inputPath))) {
    if (probe != nullptr) probe->unread = true;
    SetStandInBounds(source);
    return;
  }
  const int32_t err = ProbeGeometry(*s.inputPath, s.upright, s.web, s.shrinkOnLoad, source, traits);
  if (err == noErr) return;
  // The sizes worked out below are never used after this, but must not
  // divide by zero or come from bounds the probe left half-filled.
  SetStandInBounds(source);
  std::string line =
      err == fnfErr
          ? "Error: \"" + *s.inputPath + "\": file not found (" + std::to_string(err) + ")\n"
          : "Error code: \"" + *s.inputPath + "\": " + std::to_string(err) + "\n";
  if (probe != nullptr && !probe->counted) {
    probe->code = err;
    probe->line = std::move(line);
  } else {
    Fail(s, notes, std::move(line));
  }
}

// (known side of the output, as an unsigned 32-bit value) x (source side
// along it) / (source side across), rounded half up and cut to 32 bits.
int32_t ScaleSide(double sourceAlong, int32_t knownSide, double sourceAcross) {
  if (sourceAcross == 0) return 0;  // an empty source has no aspect ratio
  return TruncateKeeping32(sourceAlong * double(uint32_t(knownSide)) / sourceAcross + 0.5);
}

// "//fit": the largest size inside the box with the source's aspect ratio,
// the side across rounded as a missing side is; never above the source.
void FitBox(JobSettings& s, int32_t sourceWidth, int32_t sourceHeight) {
  if (sourceWidth <= s.boxWidth && sourceHeight <= s.boxHeight) {
    s.width = sourceWidth;
    s.height = sourceHeight;
  } else if (int64_t(s.boxWidth) * sourceHeight <= int64_t(s.boxHeight) * sourceWidth) {
    s.width = s.boxWidth;
    s.height = std::max(1, ScaleSide(sourceHeight, s.width, sourceWidth));
  } else {
    s.height = s.boxHeight;
    s.width = std::max(1, ScaleSide(sourceWidth, s.height, sourceHeight));
  }
}

// "//fill": the smallest resize that covers the box (width by height, the
// size asked once never-enlarge has had its say), and its centre.
void FillBox(JobSettings& s, OutputGeometry* g, int32_t sourceWidth, int32_t sourceHeight) {
  int32_t fullWidth = s.width;
  int32_t fullHeight = s.height;
  if (int64_t(s.width) * sourceHeight >= int64_t(s.height) * sourceWidth) {
    fullHeight = std::max(s.height, ScaleSide(sourceHeight, s.width, sourceWidth));
  } else {
    fullWidth = std::max(s.width, ScaleSide(sourceWidth, s.height, sourceHeight));
  }
  SetCentredWindow(g, fullWidth, fullHeight, s.width, s.height);
}

// "//shrink-on-load": one decode serves every output, at the largest
// scale that keeps twice each output's full resize.
void ChooseDecodeScale(JobSettings& s, bool drawsScaled) {
  if (!drawsScaled || s.outputs.empty()) return;
  int32_t scale = 8;
  for (const JobOutput& output : s.outputs) {
    scale = std::min(scale, LargestDecodeScale(output.geometry));
  }
  for (JobOutput& output : s.outputs) output.geometry.decodeScale = scale;
}

void CheckRotation(JobSettings& s, std::vector<Note>& notes) {
  if (s.rotation % 90 != 0) Fail(s, notes, "Only N * 90 degree rotation accommodated\n");
  for (JobOutput& output : s.outputs) output.geometry.quarterTurns = QuarterTurns(s.rotation);
}

// The size the command line asks for, into width and height: a box's
// (what fits inside it, or the box that is filled), a percent scale's, or
// width and height with the missing one from the source's aspect ratio.
// False when a box comes with another size, which is refused.
bool AskedSize(JobSettings& s, double sourceWidth, double sourceHeight, std::vector<Note>& notes) {
  if (s.boxRule != BoxRule::kNone) {
    if (s.percentScale != 0 || s.width != 0 || s.height != 0) {
      Fail(s, notes, "Redundant size specification with percent and width/height\n");
      return false;
    }
    if (s.boxRule == BoxRule::kFit) {
      FitBox(s, int32_t(sourceWidth), int32_t(sourceHeight));
    } else {
      s.width = s.boxWidth;
      s.height = s.boxHeight;
    }
    return true;
  }
  if (s.percentScale != 0) {
    if (s.width != 0 || s.height != 0) {
      Fail(s, notes, "Redundant size specification with percent and width/height\n");
    } else {
      const double factor = double(s.percentScale) * kPercentFactor;
      s.width = TruncateKeeping32(sourceWidth * factor + 0.5);
      s.height = TruncateKeeping32(sourceHeight * factor + 0.5);
    }
  }
  if (s.width == 0 && s.height == 0) {
    Fail(s, notes, "Insufficient size specification\n");
  } else if (s.width == 0) {
    s.width = ScaleSide(sourceWidth, s.height, sourceHeight);
  } else if (s.height == 0) {
    s.height = ScaleSide(sourceHeight, s.width, sourceWidth);
  }
  return true;
}

}  // namespace

void ComputeOutputSize(JobSettings& s, OutputGeometry* g, std::vector<Note>& notes) {
  g->alignment = s.alignment;
  const int32_t sourceWidth = g->sourceWidth;
  const int32_t sourceHeight = g->sourceHeight;
  const bool asked = AskedSize(s, sourceWidth, sourceHeight, notes);
  // "//no-enlarge" (and "//web"): the one place it applies, whichever way
  // the size was asked for. A fitted size never exceeds the source anyway.
  if (s.noEnlarge) ShrinkToSource(&s.width, &s.height, sourceWidth, sourceHeight);
  if (asked && s.boxRule == BoxRule::kFill) {
    FillBox(s, g, sourceWidth, sourceHeight);
  } else {
    SetWholeResize(g, s.width, s.height);
  }
}

// Viewers of some formats (HEIF) turn the picture by the container's own
// transformation properties (irot, imir) and ignore an Exif orientation, and
// libheif 1.15 writes those properties with the stored image's sides
// swapped: a copy in such a format is therefore put upright, its
// orientation written as 1.
void CheckContainerOrientation(JobSettings& s) {
  if (!s.copyMetadata) return;
  const ImageFormat* format = OutputFormat(s, s.outputName.value_or(std::string()));
  if (format != nullptr && format->containerOrientation) s.upright = true;
}

namespace {

// An output as sized; its codec comes later (AssignExports).
JobOutput SizedOutput(const std::string& name, const OutputGeometry& geometry,
                      std::string sizeText) {
  JobOutput output;
  output.path = name;
  output.geometry = geometry;
  output.sizeText = std::move(sizeText);
  return output;
}

// The one output of a single run, named as "/o" gives it.
void ComputeSingleSize(JobSettings& s, const OutputGeometry& source, std::vector<Note>& notes) {
  const std::string name = s.outputName.value_or(std::string());
  OutputGeometry geometry = source;
  ComputeOutputSize(s, &geometry, notes);
  s.outputs.assign(1, SizedOutput(name, geometry, std::string()));
}

// One output per entry, each from a copy of the settings sized as the
// entry's single run would be; each named for now as "/o" is written.
void ComputeEntrySizes(JobSettings& s, const OutputGeometry& source,
                       std::span<const SizeEntry> sizes, std::vector<Note>& notes) {
  s.outputs.clear();
  if (s.percentScale != 0 || s.width != 0 || s.height != 0 || s.boxRule != BoxRule::kNone) {
    Fail(s, notes, "Redundant size specification with //sizes and another size\n");
    return;
  }
  const std::string name = s.outputName.value_or(std::string());
  for (const SizeEntry& entry : sizes) {
    JobSettings one = s;
    one.errorCount = 0;
    ApplySizeEntry(entry, &one);
    OutputGeometry geometry = source;
    ComputeOutputSize(one, &geometry, notes);
    s.errorCount += one.errorCount;
    s.outputs.push_back(SizedOutput(name, geometry, entry.text));
  }
}

// Each output's codec, quality and depth: the command line's, or under
// "//formats" one output for each size in each codec listed, sizes first,
// each as the single run with that size and codec writes it.
void AssignExports(JobSettings& s, const SourceTraits& traits) {
  const std::vector<JobOutput> sized = std::move(s.outputs);
  const std::vector<OSType> codecs =
      s.formats.empty() ? std::vector<OSType>{s.exportSettings.codec} : s.formats;
  s.outputs.clear();
  for (const JobOutput& one : sized) {
    for (const OSType codec : codecs) {
      JobOutput output = one;
      output.exportSettings = s.exportSettings;
      bool qualityGiven = s.qualityGiven;
      if (!s.formats.empty()) {
        const OSType source = traits.format != nullptr ? traits.format->subtype : 0;
        output.exportSettings.codec = codec == kSourceCodec ? source : codec;
        for (const auto& [listed, quality] : s.codecQualities) {
          if (listed != codec) continue;
          output.exportSettings.quality = quality;
          qualityGiven = true;
        }
      }
      ChooseAlphaHandling(s, traits.hasAlpha, traits.deep, &output);
      output.format = CodecFormat(output.exportSettings.codec, output.path);
      if (s.web && !qualityGiven) ChooseWebQuality(&output);
      s.outputs.push_back(std::move(output));
    }
  }
}

void RunAllChecks(JobSettings& s, std::span<const SizeEntry> sizes, std::vector<Note>& notes,
                  InputProbe* probe) {
  ApplyWebDefaults(s);
  CheckContainerOrientation(s);
  SourceTraits traits;
  OutputGeometry source;
  CheckInput(s, notes, &traits, probe, &source);
  if (probe != nullptr) probe->format = traits.format;
  if (!s.outputName) Fail(s, notes, "No output file specified\n");
  if (sizes.empty()) {
    ComputeSingleSize(s, source, notes);
  } else {
    ComputeEntrySizes(s, source, sizes, notes);
  }
  PlaceCropWindows(s, sizes, notes);
  CheckRotation(s, notes);
  AssignExports(s, traits);
  ChooseDecodeScale(s, traits.drawsScaled);
  // A batch checks its files once its names are worked out (its plan).
  if (probe == nullptr) CheckOutputTargets(s, notes);
  CheckOptionPairs(s, notes);
  CheckAnimationOutput(s, notes);
  CheckQualityGoal(s, notes);
}

}  // namespace

void RunChecks(JobSettings& s, std::vector<Note>& notes) {
  RunAllChecks(s, {}, notes, nullptr);
}

void RunChecksForInput(JobSettings& s, std::span<const SizeEntry> sizes, std::vector<Note>& notes,
                       InputProbe* probe) {
  RunAllChecks(s, sizes, notes, probe);
}
