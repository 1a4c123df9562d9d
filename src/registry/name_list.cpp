#include "registry/name_list.h"

#include "platform/error.h"

namespace vg::registry {

const std::u16string& NameList::operator[](int32_t index) const {
  if (index < 1 || index > Count()) {
    throw platform::Error(9, platform::ProgramName(), "Subscript out of range");
  }
  return names_[static_cast<size_t>(index - 1)];
}

}  // namespace vg::registry
