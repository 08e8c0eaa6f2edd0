// The XMP packet of a metadata list, changed as a whole.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/user_data.h"

// Stores change(packet) in place of the list's packet (its first "xmp "
// item), when it has one and the change changes it.
void ChangeXmpPacket(UserData ud, const std::function<std::string(std::string_view)>& change);
