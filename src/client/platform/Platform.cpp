#include "platform/Platform.h"

namespace plat {

namespace {
Platform gPlatform;
}

void Install(const Platform& platform) { gPlatform = platform; }
const Platform& Get() { return gPlatform; }

}  // namespace plat
