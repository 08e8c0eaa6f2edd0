#include "codecs/heif/heif_metadata.h"

#include <exiv2/exif.hpp>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "codecs/heif/heif_release.h"
#include "metadata_blocks/exif_items.h"
#include "metadata_blocks/item_access.h"
#include "platform/metadata_library.h"

namespace {

std::vector<uint8_t> Block(const heif_image_handle* handle, heif_item_id id) {
  std::vector<uint8_t> data(Heif().image_handle_get_metadata_size(handle, id));
  if (data.empty() || Heif().image_handle_get_metadata(handle, id, data.data()).code != 0)
    return {};
  return data;
}

void AddMetadataBlocks(const heif_image_handle* handle, UserData ud) {
  const int count = Heif().image_handle_get_number_of_metadata_blocks(handle, nullptr);
  if (count <= 0) return;
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  const int listed =
      Heif().image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
  for (int i = 0; i < listed; ++i) {
    const char* type = Heif().image_handle_get_metadata_type(handle, ids[size_t(i)]);
    const char* content = Heif().image_handle_get_metadata_content_type(handle, ids[size_t(i)]);
    if (type != nullptr && std::strcmp(type, "Exif") == 0) {
      AddExifBlockItems(Block(handle, ids[size_t(i)]), ud);
    } else if (content != nullptr && std::strcmp(content, "application/rdf+xml") == 0) {
      AppendItem(ud, kXmpItem, Block(handle, ids[size_t(i)]), 0);
    }
  }
}

void AddIccProfile(const heif_image_handle* handle, UserData ud) {
  const heif_color_profile_type type = Heif().image_handle_get_color_profile_type(handle);
  if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return;
  std::vector<uint8_t> profile(Heif().image_handle_get_raw_color_profile_size(handle));
  if (profile.empty() ||
      Heif().image_handle_get_raw_color_profile(handle, profile.data()).code != 0) {
    return;
  }
  AppendItem(ud, kIccItem, profile, 0);
}

void AddHeifItems(ByteSpan file, UserData ud) {
  if (LoadHeif() == nullptr) return;
  HeifContext context(Heif().context_alloc());
  if (!context ||
      Heif().context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr)
              .code != 0) {
    return;
  }
  heif_image_handle* primary = nullptr;
  if (Heif().context_get_primary_image_handle(context.get(), &primary).code != 0) return;
  std::unique_ptr<heif_image_handle, HeifRelease> handle(primary);
  AddMetadataBlocks(handle.get(), ud);
  AddIccProfile(handle.get(), ud);
  // Drawn with the container's rotation and mirroring applied (readers
  // ignore an Exif orientation in these files).
  MarkExifOrientationUpright(ud);
}

}  // namespace

OSErr ReadHeifMetaData(ByteSpan file, UserData ud) {
  if (ud == nullptr) return paramErr;
  InitMetaDataLibrary();
  try {
    AddHeifItems(file, ud);
  } catch (const std::exception&) {
    // Metadata exiv2 cannot decode: what was read is kept.
  }
  return noErr;
}
