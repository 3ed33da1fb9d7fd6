#include "BlockLength.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2_util.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

namespace varsile::lv2 {

UInt32 MaxFramesFromFeatures(const LV2_Feature* const* features) noexcept {
  const auto* map = static_cast<const LV2_URID_Map*>(lv2_features_data(features, LV2_URID__map));
  const auto* options =
      static_cast<const LV2_Options_Option*>(lv2_features_data(features, LV2_OPTIONS__options));
  if (map == nullptr || map->map == nullptr || options == nullptr) return kDefaultMaxFrames;
  const LV2_URID maxBlockLength = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
  const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
  const LV2_URID longType = map->map(map->handle, LV2_ATOM__Long);
  // The array ends with an option whose key and value are zero.
  for (const LV2_Options_Option* option = options; option->key != 0 || option->value != nullptr; ++option) {
    if (option->key != maxBlockLength || option->value == nullptr) continue;
    long long frames = 0;
    if (option->type == intType && option->size == sizeof(int32_t)) {
      frames = *static_cast<const int32_t*>(option->value);
    } else if (option->type == longType && option->size == sizeof(int64_t)) {
      frames = *static_cast<const int64_t*>(option->value);
    } else {
      continue;
    }
    if (frames <= 0) return kDefaultMaxFrames;
    return frames > kLargestMaxFrames ? kLargestMaxFrames : static_cast<UInt32>(frames);
  }
  return kDefaultMaxFrames;
}

}  // namespace varsile::lv2
