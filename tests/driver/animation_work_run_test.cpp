// A file of a few kilobytes that claims more work than "//animated" takes:
// one pixel painted in each of 513 frames of a 4096 x 4096 canvas, as GIF
// and as WebP, refused before any frame is decoded, with a line saying why.
#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr int kSide = 4096;
constexpr int kFrames = 513;  // one more than 2^33 / 4096^2

void Put16(std::vector<uint8_t>& out, int value) {
  out.push_back(uint8_t(value & 0xFF));
  out.push_back(uint8_t(value >> 8));
}

// Each frame one pixel of colour 1, LZW with 2-bit minimum codes: clear,
// 1, end (3-bit codes 4, 1, 5).
std::vector<uint8_t> OnePixelGif() {
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(gif, kSide);
  Put16(gif, kSide);
  gif.insert(gif.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});
  for (int i = 0; i < kFrames; ++i) {
    gif.insert(gif.end(), {0x21, 0xF9, 4, 0, 2, 0, 0, 0, 0x2C});
    Put16(gif, (i * 37) % kSide);
    Put16(gif, (i * 91) % kSide);
    Put16(gif, 1);
    Put16(gif, 1);
    gif.insert(gif.end(), {0, 2, 2, 0x4C, 0x01, 0});
  }
  gif.push_back(0x3B);
  return gif;
}

std::vector<uint8_t> OnePixelWebp() {
  const uint8_t pixel[4] = {255, 255, 255, 255};
  uint8_t* still = nullptr;
  const size_t size = WebPEncodeLosslessRGBA(pixel, 1, 1, 4, &still);
  WebPMux* mux = WebPMuxNew();
  WebPMuxSetCanvasSize(mux, kSide, kSide);
  const WebPMuxAnimParams params = {0, 0};
  WebPMuxSetAnimationParams(mux, &params);
  for (int i = 0; i < kFrames; ++i) {
    const WebPMuxFrameInfo frame = {{still, size},   (i * 38) % kSide,      (i * 92) % kSide, 20,
                                    WEBP_CHUNK_ANMF, WEBP_MUX_DISPOSE_NONE, WEBP_MUX_BLEND,   0};
    EXPECT_EQ(WebPMuxPushFrame(mux, &frame, 1), WEBP_MUX_OK);
  }
  WebPData assembled;
  WebPDataInit(&assembled);
  EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
  std::vector<uint8_t> file(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  WebPFree(still);
  return file;
}

TEST(AnimationWorkRun, AnimationsBeyondTheWorkLimitAreRefusedBeforeTheirFrames) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "paint.gif", OnePixelGif());
  test::WriteFileBytes(dir / "paint.webp", OnePixelWebp());
  for (const char* input : {"paint.gif", "paint.webp"}) {
    SCOPED_TRACE(input);
    const test::RunResult r = test::RunTavrel(
        {"//animated", "/w", "100", "/c", "webp", "/o", "out.webp", input}, dir.path().string());
    EXPECT_EQ(r.status, -108 & 0xFF);
    EXPECT_EQ(r.err, "Error \"" + std::string(input) +
                         "\": 513 frames of 4096x4096 exceed the animation work limit of "
                         "8589934592 frame pixels (-108)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.webp"));
  }
}

}  // namespace
