#include "metadata/xmp_packet.h"

#include "base/item_types.h"
#include "platform/owned.h"

void ChangeXmpPacket(UserData ud, const std::function<std::string(std::string_view)>& change) {
  UniqueHandle packet(NewHandle(0));
  if (!packet || GetUserData(ud, packet.get(), kXmpItem, 1) != noErr) return;
  const std::string_view was(*packet.get(), GetHandleSize(packet.get()));
  const std::string changed = change(was);
  if (changed != was) SetUserDataItem(ud, changed.data(), int32_t(changed.size()), kXmpItem, 1);
}
