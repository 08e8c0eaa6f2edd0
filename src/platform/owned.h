// Owning wrappers for what the platform makes, so that every path releases
// it: a pixel buffer, a metadata list, a handle, an open component.
#pragma once

#include <memory>

#include "platform/components.h"
#include "platform/gworld.h"
#include "platform/handle.h"
#include "platform/user_data.h"

struct GWorldDisposer {
  void operator()(GWorld* gw) const { DisposeGWorld(gw); }
};
struct UserDataDisposer {
  void operator()(UserDataRecord* ud) const { DisposeUserData(ud); }
};
struct HandleDisposer {
  void operator()(char** h) const { DisposeHandle(h); }
};
struct ComponentCloser {
  void operator()(ComponentInstanceRecord* ci) const { CloseComponent(ci); }
};

using UniqueGWorld = std::unique_ptr<GWorld, GWorldDisposer>;
using UniqueUserData = std::unique_ptr<UserDataRecord, UserDataDisposer>;
using UniqueHandle = std::unique_ptr<char*, HandleDisposer>;
using UniqueComponent = std::unique_ptr<ComponentInstanceRecord, ComponentCloser>;
