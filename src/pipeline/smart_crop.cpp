#include "pipeline/smart_crop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

int32_t Luma(const uint8_t* p) {  // BT.601 weights in eighths of a thousand
  return (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000;
}

// Skin: the colour's direction close to a typical skin tone's
// (0.78, 0.57, 0.44), in moderate light; 0 to 255.
int32_t Skin(const uint8_t* p, int32_t luma) {
  const double r = p[0], g = p[1], b = p[2];
  const double length = std::sqrt(r * r + g * g + b * b);
  if (length < 1 || luma < 40 || luma > 240) return 0;
  const double dr = r / length - 0.78, dg = g / length - 0.57, db = b / length - 0.44;
  const double distance = std::sqrt(dr * dr + dg * dg + db * db);
  return std::max(0, int32_t(255 - distance * 255 / 0.15));
}

// Saturation in moderate light: max - min of the channels, 0 to 255.
int32_t Saturation(const uint8_t* p, int32_t luma) {
  if (luma < 20 || luma > 235) return 0;
  return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
}

// Every pixel's saliency: luma edges (a Laplacian), skin weighted most,
// then saturation.
std::vector<int32_t> Saliency(const SmallPicture& pic) {
  const int32_t w = pic.width, h = pic.height;
  std::vector<int32_t> luma(size_t(w) * h);
  for (size_t i = 0; i < luma.size(); ++i) luma[i] = Luma(&pic.rgb[i * 3]);
  std::vector<int32_t> score(luma.size());
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const auto at = [&](int32_t xx, int32_t yy) {
        return luma[size_t(std::clamp(yy, 0, h - 1)) * w + std::clamp(xx, 0, w - 1)];
      };
      const int32_t edge =
          std::abs(4 * luma[i] - at(x - 1, y) - at(x + 1, y) - at(x, y - 1) - at(x, y + 1));
      const uint8_t* p = &pic.rgb[i * 3];
      score[i] = 2 * std::min(edge, 255) + 3 * Skin(p, luma[i]) + Saturation(p, luma[i]);
    }
  }
  return score;
}

// A box blur of radius r along rows, then along columns, with clamped ends.
std::vector<int32_t> Blur(const std::vector<int32_t>& in, int32_t w, int32_t h, int32_t r) {
  std::vector<int32_t> rows(in.size()), out(in.size());
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t sum = 0;
      for (int32_t k = -r; k <= r; ++k) sum += in[size_t(y) * w + std::clamp(x + k, 0, w - 1)];
      rows[size_t(y) * w + x] = int32_t(sum / (2 * r + 1));
    }
  }
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t sum = 0;
      for (int32_t k = -r; k <= r; ++k) sum += rows[size_t(std::clamp(y + k, 0, h - 1)) * w + x];
      out[size_t(y) * w + x] = int32_t(sum / (2 * r + 1));
    }
  }
  return out;
}

int32_t CentredOn(int32_t centre, int32_t window, int32_t whole) {
  return std::clamp(centre - window / 2, 0, whole - window);
}

// The window centred on the blurred saliency's maximum (the first in row
// order among equals), kept inside.
WindowPlace Attention(const SmallPicture& pic, int32_t windowWidth, int32_t windowHeight) {
  const int32_t radius = std::max(1, std::min(pic.width, pic.height) / 16);
  const std::vector<int32_t> map = Blur(Saliency(pic), pic.width, pic.height, radius);
  const size_t best = size_t(std::max_element(map.begin(), map.end()) - map.begin());
  const int32_t x = int32_t(best % size_t(pic.width)), y = int32_t(best / size_t(pic.width));
  return {CentredOn(x, windowWidth, pic.width), CentredOn(y, windowHeight, pic.height)};
}

// The Shannon entropy of the luma histogram of columns [x0, x1) and rows
// [y0, y1).
double Entropy(const SmallPicture& pic, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  int64_t histogram[256] = {};
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = x0; x < x1; ++x) ++histogram[Luma(&pic.rgb[(size_t(y) * pic.width + x) * 3])];
  }
  const double total = double(int64_t(x1 - x0) * (y1 - y0));
  double entropy = 0;
  for (const int64_t count : histogram) {
    if (count != 0) entropy -= double(count) / total * std::log2(double(count) / total);
  }
  return entropy;
}

// Trims the span [*low, *high) of one direction to length in slices, each
// from the end whose slice has the lower entropy (the far end on a tie).
void TrimByEntropy(const SmallPicture& pic, bool columns, int32_t length, int32_t* low,
                   int32_t* high) {
  const int32_t slice = std::max(1, (*high - *low) / 20);
  while (*high - *low > length) {
    const int32_t step = std::min(slice, *high - *low - length);
    const double near = columns ? Entropy(pic, *low, *low + step, 0, pic.height)
                                : Entropy(pic, 0, pic.width, *low, *low + step);
    const double far = columns ? Entropy(pic, *high - step, *high, 0, pic.height)
                               : Entropy(pic, 0, pic.width, *high - step, *high);
    if (near < far) {
      *low += step;
    } else {
      *high -= step;
    }
  }
}

WindowPlace EntropyWindow(const SmallPicture& pic, int32_t windowWidth, int32_t windowHeight) {
  int32_t left = 0, right = pic.width, top = 0, bottom = pic.height;
  TrimByEntropy(pic, true, windowWidth, &left, &right);
  TrimByEntropy(pic, false, windowHeight, &top, &bottom);
  return {left, top};
}

}  // namespace

WindowPlace PlaceWindow(const SmallPicture& picture, int32_t windowWidth, int32_t windowHeight,
                        CropRule rule) {
  windowWidth = std::clamp(windowWidth, 1, std::max(1, picture.width));
  windowHeight = std::clamp(windowHeight, 1, std::max(1, picture.height));
  if (picture.width < 1 || picture.height < 1) return {};
  switch (rule) {
    case CropRule::kAttention:
      return Attention(picture, windowWidth, windowHeight);
    case CropRule::kEntropy:
      return EntropyWindow(picture, windowWidth, windowHeight);
    case CropRule::kCentre:
      break;
  }
  return {(picture.width - windowWidth) / 2, (picture.height - windowHeight) / 2};
}

bool ReduceRows(const RowReduction& r, const std::function<const uint8_t*(int32_t)>& row,
                SmallPicture* small) {
  const int32_t factor = r.factor;
  small->width = (r.width + factor - 1) / factor;
  small->height = (r.height + factor - 1) / factor;
  small->rgb.assign(size_t(small->width) * small->height * 3, 0);
  std::vector<int64_t> sums(size_t(small->width) * 3);
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* pixels = row(y);
    if (pixels == nullptr) return false;
    for (int32_t x = 0; x < r.width; ++x) {
      for (int c = 0; c < 3; ++c)
        sums[size_t(x / factor) * 3 + c] += pixels[size_t(x) * r.bytes + r.offsets[c]];
    }
    if ((y + 1) % factor != 0 && y + 1 != r.height) continue;
    const int64_t rows = y % factor + 1;
    uint8_t* out = &small->rgb[size_t(y / factor) * small->width * 3];
    for (size_t i = 0; i < sums.size(); ++i) {
      const int64_t columns = std::min<int64_t>(factor, r.width - int64_t(i / 3) * factor);
      const int64_t count = rows * columns;
      out[i] = uint8_t((sums[i] + count / 2) / count);
      sums[i] = 0;
    }
  }
  return true;
}

namespace {

int32_t Scaled(int32_t value, int32_t to, int32_t from) {
  return int32_t((int64_t(value) * to + from / 2) / from);
}

}  // namespace

WindowPlace PlaceScaledWindow(const SmallPicture& small, int32_t fullWidth, int32_t fullHeight,
                              int32_t windowWidth, int32_t windowHeight, CropRule rule) {
  const int32_t width = std::max(1, Scaled(windowWidth, small.width, fullWidth));
  const int32_t height = std::max(1, Scaled(windowHeight, small.height, fullHeight));
  const WindowPlace place = PlaceWindow(small, width, height, rule);
  return {Scaled(place.left, fullWidth, small.width), Scaled(place.top, fullHeight, small.height)};
}
