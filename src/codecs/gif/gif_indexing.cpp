#include "codecs/gif/gif_indexing.h"

#include <libimagequant.h>

#include <algorithm>
#include <memory>
#include <new>
#include <unordered_map>

#include "platform/quality.h"

namespace {

constexpr int kMostColours = 256;

uint32_t Rgb(const uint8_t* p) {
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

// The picture's colours exactly, when there are at most 256 of them
// (transparency taking one); false, and out untouched, otherwise.
bool IndexExactly(const RgbaPicture& picture, IndexedPicture* out) {
  std::unordered_map<uint32_t, uint8_t> seen;
  std::vector<uint32_t> colours;
  int32_t transparent = -1;
  const int64_t count = int64_t(picture.width) * picture.height;
  std::vector<uint8_t> indices(size_t(count), 0);
  uint32_t lastColour = 0;
  uint8_t lastIndex = 0;
  bool haveLast = false;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t* p = picture.pixels + 4 * i;
    if (p[3] == 0) {
      if (transparent < 0) {
        if (colours.size() == kMostColours) return false;
        transparent = int32_t(colours.size());
        colours.push_back(0);
      }
      indices[size_t(i)] = uint8_t(transparent);
      continue;
    }
    const uint32_t rgb = Rgb(p);
    if (haveLast && rgb == lastColour) {  // runs are the common case
      indices[size_t(i)] = lastIndex;
      continue;
    }
    auto [at, added] = seen.try_emplace(rgb, uint8_t(colours.size()));
    if (added) {
      if (colours.size() == kMostColours) return false;
      colours.push_back(rgb);
    }
    lastColour = rgb;
    lastIndex = at->second;
    haveLast = true;
    indices[size_t(i)] = lastIndex;
  }
  *out = {std::move(colours), std::move(indices), transparent, true};
  return true;
}

struct AttrDestroy {
  void operator()(liq_attr* a) const { liq_attr_destroy(a); }
};
struct ImageDestroy {
  void operator()(liq_image* i) const { liq_image_destroy(i); }
};
struct ResultDestroy {
  void operator()(liq_result* r) const { liq_result_destroy(r); }
};

OSErr LiqError(liq_error error) {
  return error == LIQ_OUT_OF_MEMORY ? memFullErr : codecErr;
}

OSErr Quantise(const RgbaPicture& picture, int32_t quality, IndexedPicture* out) {
  const QuantiseSettings settings = QuantiseSettingsForQuality(quality);
  std::unique_ptr<liq_attr, AttrDestroy> attr(liq_attr_create());
  if (attr == nullptr) return memFullErr;
  if (liq_error e = liq_set_max_colors(attr.get(), kMostColours)) return LiqError(e);
  if (liq_error e = liq_set_quality(attr.get(), 0, settings.maximumQuality)) return LiqError(e);
  if (liq_error e = liq_set_speed(attr.get(), settings.speed)) return LiqError(e);
  std::unique_ptr<liq_image, ImageDestroy> image(
      liq_image_create_rgba(attr.get(), picture.pixels, picture.width, picture.height, 0));
  if (image == nullptr) return codecErr;
  liq_result* made = nullptr;
  if (liq_error e = liq_image_quantize(image.get(), attr.get(), &made)) return LiqError(e);
  std::unique_ptr<liq_result, ResultDestroy> result(made);
  if (liq_error e = liq_set_dithering_level(result.get(), settings.dithering)) return LiqError(e);
  const size_t count = size_t(picture.width) * size_t(picture.height);
  try {
    out->indices.resize(count);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  if (liq_error e =
          liq_write_remapped_image(result.get(), image.get(), out->indices.data(), count)) {
    return LiqError(e);
  }
  // The palette is final once the picture is remapped. The writers hand
  // over no partial alpha, so an entry is either transparent or opaque;
  // every transparent entry is folded into the first.
  const liq_palette* palette = liq_get_palette(result.get());
  out->colours.clear();
  out->transparent = -1;
  out->exact = false;
  uint8_t remap[kMostColours];
  bool folded = false;
  for (unsigned i = 0; i < palette->count; ++i) {
    const liq_color& c = palette->entries[i];
    remap[i] = uint8_t(i);
    if (c.a < 128) {
      if (out->transparent < 0) {
        out->transparent = int32_t(i);
      } else {
        remap[i] = uint8_t(out->transparent);
        folded = true;
      }
    }
    out->colours.push_back(c.a < 128 ? 0 : uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
  }
  if (folded) {
    for (uint8_t& index : out->indices) index = remap[index];
  }
  return noErr;
}

}  // namespace

QuantiseSettings QuantiseSettingsForQuality(int32_t quality) {
  const int percent = QualityPercent(quality);
  QuantiseSettings settings;
  // libimagequant's scale is stern: at 75 a screen capture keeps 13
  // colours and loses more than ImageMagick's 256; 20 more keeps what the
  // frames show (bench/animation_frame_error.py) within gifsicle's bytes.
  settings.maximumQuality = std::min(100, percent + 20);
  // Below speed 7 libimagequant takes twice the time for a trace more
  // fidelity, so the default (75 percent) stays there.
  settings.speed = percent >= 95 ? 3 : percent >= 85 ? 5 : percent >= 50 ? 7 : 10;
  // No error diffusion up to the default 75 percent: a third smaller
  // files, as close to the frames; full at 100.
  settings.dithering = std::clamp(float(percent - 75) / 25.0f, 0.0f, 1.0f);
  return settings;
}

OSErr IndexPicture(const RgbaPicture& picture, int32_t quality, IndexedPicture* out) {
  if (picture.pixels == nullptr || picture.width < 1 || picture.height < 1 || out == nullptr) {
    return paramErr;
  }
  try {
    if (IndexExactly(picture, out)) return noErr;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return Quantise(picture, quality, out);
}
