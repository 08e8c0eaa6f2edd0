#include "driver/command_line/checks.h"

#include <algorithm>
#include <string>

#include "base/pixel_view.h"
#include "driver/command_line/number_text.h"
#include "driver/command_line/refusals.h"
#include "driver/command_line/web_output.h"
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

// "//fill": the smallest resize that covers the box, and its centre.
void FillBox(JobSettings& s, OutputGeometry* g, int32_t sourceWidth, int32_t sourceHeight) {
  if (s.noEnlarge) ShrinkToSource(&s.boxWidth, &s.boxHeight, sourceWidth, sourceHeight);
  int32_t fullWidth = s.boxWidth;
  int32_t fullHeight = s.boxHeight;
  if (int64_t(s.boxWidth) * sourceHeight >= int64_t(s.boxHeight) * sourceWidth) {
    fullHeight = std::max(s.boxHeight, ScaleSide(sourceHeight, s.boxWidth, sourceWidth));
  } else {
    fullWidth = std::max(s.boxWidth, ScaleSide(sourceWidth, s.boxHeight, sourceHeight));
  }
  s.width = s.boxWidth;
  s.height = s.boxHeight;
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

}  // namespace

void ComputeOutputSize(JobSettings& s, OutputGeometry* g, std::vector<Note>& notes) {
  g->alignment = s.alignment;
  const double sourceWidth = g->sourceWidth;
  const double sourceHeight = g->sourceHeight;
  if (s.boxRule != BoxRule::kNone) {
    if (s.percentScale != 0 || s.width != 0 || s.height != 0) {
      Fail(s, notes, "Redundant size specification with percent and width/height\n");
    } else if (s.boxRule == BoxRule::kFit) {
      FitBox(s, int32_t(sourceWidth), int32_t(sourceHeight));
    } else {
      FillBox(s, g, int32_t(sourceWidth), int32_t(sourceHeight));
      return;
    }
    SetWholeResize(g, s.width, s.height);
    return;
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
  if (s.noEnlarge) ShrinkToSource(&s.width, &s.height, int32_t(sourceWidth), int32_t(sourceHeight));
  SetWholeResize(g, s.width, s.height);
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

// The one output of a single run, named as "/o" gives it.
void ComputeSingleSize(JobSettings& s, const OutputGeometry& source, std::vector<Note>& notes) {
  const std::string name = s.outputName.value_or(std::string());
  OutputGeometry geometry = source;
  ComputeOutputSize(s, &geometry, notes);
  s.outputs.assign(1, JobOutput{name, geometry, OutputFormat(s, name), std::string()});
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
    s.outputs.push_back({name, geometry, OutputFormat(s, name), entry.text});
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
  ChooseAlphaHandling(s, traits.hasAlpha, traits.deep);
  if (!s.outputName) Fail(s, notes, "No output file specified\n");
  if (sizes.empty()) {
    ComputeSingleSize(s, source, notes);
  } else {
    ComputeEntrySizes(s, source, sizes, notes);
  }
  CheckRotation(s, notes);
  ChooseDecodeScale(s, traits.drawsScaled);
  // A batch checks its files once its names are worked out (its plan).
  if (probe == nullptr) CheckOutputTargets(s, notes);
  CheckOptionPairs(s, notes);
  CheckAnimationOutput(s, notes);
}

}  // namespace

void RunChecks(JobSettings& s, std::vector<Note>& notes) {
  RunAllChecks(s, {}, notes, nullptr);
}

void RunChecksForInput(JobSettings& s, std::span<const SizeEntry> sizes, std::vector<Note>& notes,
                       InputProbe* probe) {
  RunAllChecks(s, sizes, notes, probe);
}
