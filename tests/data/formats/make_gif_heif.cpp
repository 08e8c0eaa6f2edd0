// One-off generator of GIF and HEIF test files (giflib and libheif).
#include <gif_lib.h>
#include <libheif/heif.h>
#include <cstdio>
#include <cstring>
#include <vector>
#include <string>

static void Gif(const char* path, int sw, int sh, std::vector<GifColorType> colours,
                int frames, int left, int top, int w, int h, bool interlace, int transparent) {
  int err = 0;
  GifFileType* gif = EGifOpenFileName(path, false, &err);
  EGifSetGifVersion(gif, true);
  ColorMapObject* map = GifMakeMapObject(int(colours.size()), colours.data());
  EGifPutScreenDesc(gif, sw, sh, 8, 0, map);
  for (int f = 0; f < frames; ++f) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED; gcb.DelayTime = 10; gcb.TransparentColor = f == 0 ? transparent : NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    size_t n = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
    EGifPutImageDesc(gif, left, top, w, h, interlace, nullptr);
    std::vector<GifPixelType> line(w);
    auto put = [&](int y) {
      for (int x = 0; x < w; ++x) line[x] = f == 0 ? GifPixelType((x + 2 * y) % colours.size()) : 0;
      EGifPutLine(gif, line.data(), w);
    };
    if (interlace) {
      int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p) for (int y = start[p]; y < h; y += step[p]) put(y);
    } else {
      for (int y = 0; y < h; ++y) put(y);
    }
  }
  EGifCloseFile(gif, &err);
  GifFreeMapObject(map);
}

static void Heif(const char* path, heif_compression_format fmt, bool alpha, int bits, bool lossless, int q) {
  const int W = 24, H = 16;
  heif_context* ctx = heif_context_alloc();
  heif_encoder* enc = nullptr;
  heif_context_get_encoder_for_format(ctx, fmt, &enc);
  if (lossless) heif_encoder_set_lossless(enc, 1); else heif_encoder_set_lossy_quality(enc, q);
  if (bits > 8) heif_encoder_set_parameter_string(enc, "chroma", "420");
  heif_image* img = nullptr;
  heif_chroma chroma = bits == 8 ? (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB)
                                 : (alpha ? heif_chroma_interleaved_RRGGBBAA_BE : heif_chroma_interleaved_RRGGBB_BE);
  heif_image_create(W, H, heif_colorspace_RGB, chroma, &img);
  heif_image_add_plane(img, heif_channel_interleaved, W, H, bits);
  int stride; uint8_t* p = heif_image_get_plane(img, heif_channel_interleaved, &stride);
  for (int y = 0; y < H; ++y) for (int x = 0; x < W; ++x) {
    int c = alpha ? 4 : 3;
    if (bits == 8) {
      uint8_t* q8 = p + y * stride + x * c;
      q8[0] = x * 255 / 23; q8[1] = y * 255 / 15; q8[2] = (x * y * 7) & 255;
      if (alpha) q8[3] = (x * 11 + y * 17) & 255;
    } else {
      // 10-bit: R = x * 1023 / 23, G = y * 1023 / 15, B = 512
      uint16_t v[4] = {uint16_t(x * 1023 / 23), uint16_t(y * 1023 / 15), 512, uint16_t((x * 11 + y * 17) * 4 & 1023)};
      uint8_t* q16 = p + y * stride + x * c * 2;
      for (int i = 0; i < c; ++i) { q16[2*i] = v[i] >> 8; q16[2*i+1] = v[i] & 255; }
    }
  }
  heif_error e = heif_context_encode_image(ctx, img, enc, nullptr, nullptr);
  if (e.code) fprintf(stderr, "%s: %s\n", path, e.message);
  heif_context_write_to_file(ctx, path);
  heif_image_release(img); heif_encoder_release(enc); heif_context_free(ctx);
}

int main() {
  Gif("interlaced.gif", 20, 14, {{255,0,0},{0,255,0},{0,0,255},{255,255,255}}, 1, 3, 2, 12, 9, true, 3);
  Gif("animated.gif", 8, 6, {{0,0,0},{255,255,255}}, 2, 0, 0, 8, 6, false, -1);
  heif_init(nullptr);
  Heif("rgb8.heic", heif_compression_HEVC, false, 8, false, 90);
  Heif("rgba8.heic", heif_compression_HEVC, true, 8, false, 90);
  Heif("rgb8.avif", heif_compression_AV1, false, 8, false, 90);
  Heif("rgba8.avif", heif_compression_AV1, true, 8, false, 90);
  Heif("rgb10.heic", heif_compression_HEVC, false, 10, false, 95);
  Heif("rgba10.heic", heif_compression_HEVC, true, 10, false, 95);
}
