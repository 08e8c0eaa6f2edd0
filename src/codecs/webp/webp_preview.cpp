#include "codecs/webp/webp_preview.h"

#include <webp/encode.h>

std::vector<uint8_t> TinyWebp(const uint8_t* rgba, int32_t width, int32_t height, bool opaque,
                              float quality) {
  WebPConfig config;
  WebPPicture picture;
  if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return {};
  config.quality = quality;
  config.method = 6;  // the smallest file: the picture is a few pixels
  config.alpha_quality = 0;
  picture.use_argb = 1;
  picture.width = width;
  picture.height = height;
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer;
  std::vector<uint8_t> file;
  const bool imported = opaque ? WebPPictureImportRGBX(&picture, rgba, 4 * width)
                               : WebPPictureImportRGBA(&picture, rgba, 4 * width);
  if (imported && WebPEncode(&config, &picture)) file.assign(writer.mem, writer.mem + writer.size);
  WebPPictureFree(&picture);
  WebPMemoryWriterClear(&writer);
  return file;
}
