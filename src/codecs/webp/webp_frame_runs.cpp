#include "codecs/webp/webp_frame_runs.h"

#include <memory>
#include <new>

#include <webp/encode.h>

namespace {

struct MuxDelete {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
using MuxPtr = std::unique_ptr<WebPMux, MuxDelete>;

// A frame's bitstream as WebPMuxGetFrame hands it out, owned.
struct MuxFrame {
  WebPMuxFrameInfo info{};
  MuxFrame() = default;
  MuxFrame(MuxFrame&& other) noexcept : info(other.info) { WebPDataInit(&other.info.bitstream); }
  MuxFrame(const MuxFrame&) = delete;
  MuxFrame& operator=(const MuxFrame&) = delete;
  ~MuxFrame() { WebPDataClear(&info.bitstream); }
};

// A 1 x 1 transparent still; empty when it cannot be made.
std::vector<uint8_t> UnchangingFrame() {
  const uint8_t transparent[4] = {0, 0, 0, 0};
  uint8_t* encoded = nullptr;
  const size_t size = WebPEncodeLosslessRGBA(transparent, 1, 1, 4, &encoded);
  std::vector<uint8_t> frame;
  if (encoded != nullptr) frame.assign(encoded, encoded + size);
  WebPFree(encoded);
  return frame;
}

// Where each encoded frame's run of given frames ends: at the next frame
// that is no exact repeat, when the encoder kept all of those; else where
// the delays from the run's start add up to the encoded frame's duration
// (the last frame takes the rest). False when they do not.
bool MatchRuns(const std::vector<int32_t>& delays, const std::vector<bool>& repeats,
               const std::vector<MuxFrame>& frames, std::vector<size_t>* ends) {
  size_t runs = 0;
  for (bool repeat : repeats) runs += repeat ? 0 : 1;
  if (runs == frames.size()) {
    for (size_t i = 1; i < delays.size(); ++i) {
      if (!repeats[i]) ends->push_back(i);
    }
    ends->push_back(delays.size());
    return true;
  }
  size_t next = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    if (next >= delays.size()) return false;
    const bool last = k + 1 == frames.size();
    const int64_t duration = frames[k].info.duration;
    int64_t held = delays[next];
    size_t end = next + 1;
    while (end < delays.size() && (last || held < duration)) held += delays[end++];
    if (!last && held != duration) return false;
    ends->push_back(end);
    next = end;
  }
  return true;
}

}  // namespace

OSErr KeepEveryFrame(const std::vector<int32_t>& delays, const std::vector<bool>& repeats,
                     int32_t width, int32_t height, const WebPMuxAnimParams& params,
                     std::vector<uint8_t>* file) {
  if (delays.size() != repeats.size() || delays.empty()) return paramErr;
  const WebPData data = {file->data(), file->size()};
  MuxPtr assembled(WebPMuxCreate(&data, 0));
  if (!assembled) return codecErr;
  int animated = 0;
  if (WebPMuxNumChunks(assembled.get(), WEBP_CHUNK_ANMF, &animated) != WEBP_MUX_OK) {
    return codecErr;
  }
  // Every frame alike: the encoder writes a still image.
  const size_t count = animated > 0 ? size_t(animated) : 1;
  if (count == delays.size()) return noErr;
  std::vector<MuxFrame> frames;
  std::vector<size_t> ends;
  try {
    frames.resize(count);
    for (size_t k = 0; k < count; ++k) {
      if (WebPMuxGetFrame(assembled.get(), uint32_t(k + 1), &frames[k].info) != WEBP_MUX_OK) {
        return codecErr;
      }
      frames[k].info.id = WEBP_CHUNK_ANMF;
    }
    if (!MatchRuns(delays, repeats, frames, &ends)) return noErr;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  const std::vector<uint8_t> unchanging = UnchangingFrame();
  MuxPtr rebuilt(WebPMuxNew());
  if (unchanging.empty() || !rebuilt ||
      WebPMuxSetCanvasSize(rebuilt.get(), width, height) != WEBP_MUX_OK ||
      WebPMuxSetAnimationParams(rebuilt.get(), &params) != WEBP_MUX_OK) {
    return memFullErr;
  }
  const WebPData blank = {unchanging.data(), unchanging.size()};
  size_t next = 0;
  for (size_t k = 0; k < count; ++k) {
    WebPMuxFrameInfo frame = frames[k].info;
    frame.duration = delays[next];
    if (WebPMuxPushFrame(rebuilt.get(), &frame, 1) != WEBP_MUX_OK) return memFullErr;
    for (size_t i = next + 1; i < ends[k]; ++i) {
      const WebPMuxFrameInfo repeat = {
          blank, 0, 0, delays[i], WEBP_CHUNK_ANMF, WEBP_MUX_DISPOSE_NONE, WEBP_MUX_BLEND, 0};
      if (WebPMuxPushFrame(rebuilt.get(), &repeat, 1) != WEBP_MUX_OK) return memFullErr;
    }
    next = ends[k];
  }
  WebPData out;
  WebPDataInit(&out);
  if (WebPMuxAssemble(rebuilt.get(), &out) != WEBP_MUX_OK) return memFullErr;
  OSErr result = noErr;
  try {
    file->assign(out.bytes, out.bytes + out.size);
  } catch (const std::bad_alloc&) {
    result = memFullErr;
  }
  WebPDataClear(&out);
  return result;
}
