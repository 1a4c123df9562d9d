// File: registry/name_list.h
//
// The list of names that RegistryKey's listings return: indices run from 1
// to Count(), like the arrays the listings were first written for. A list
// with no names has Count() 0 and no valid index at all.
//
//   NameList names = key.ValueNames();
//   for (int32_t i = 1; i <= names.Count(); ++i) Use(names[i]);
//   for (const std::u16string& name : names) Use(name);   // same order
//
// Not a general container: it only grows while a listing fills it.
#ifndef VG_REGISTRY_NAME_LIST_H_
#define VG_REGISTRY_NAME_LIST_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vg::registry {

class NameList {
 public:
  using const_iterator = std::vector<std::u16string>::const_iterator;

  // Returns the number of names, n.
  int32_t Count() const { return static_cast<int32_t>(names_.size()); }
  bool empty() const { return names_.empty(); }

  // Returns the name at `index`, 1 to n. Raises error 9 "Subscript out of
  // range" for any other index.
  const std::u16string& operator[](int32_t index) const;

  const_iterator begin() const { return names_.begin(); }
  const_iterator end() const { return names_.end(); }

  // Adds a name at index n + 1.
  void Append(std::u16string name) { names_.push_back(std::move(name)); }

 private:
  std::vector<std::u16string> names_;
};

}  // namespace vg::registry

#endif  // VG_REGISTRY_NAME_LIST_H_
