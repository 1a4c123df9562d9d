#include "platform/file_attributes.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace vg::platform {
namespace {

// Another process may grow a list or a value between the call that sizes it
// and the call that reads it; a few retries settle it.
constexpr int kSizeRetries = 4;

// Reads the names of the extended attributes of `path` ("a\0b\0" form).
std::string ListNames(const std::string& path) {
  for (int attempt = 0; attempt < kSizeRetries; ++attempt) {
    ssize_t size = listxattr(path.c_str(), nullptr, 0);
    if (size <= 0) return {};  // none, or the file system has none
    std::string names(static_cast<size_t>(size), '\0');
    ssize_t got = listxattr(path.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<size_t>(got));
      return names;
    }
    if (errno != ERANGE) return {};
  }
  return {};
}

std::optional<std::string> ReadValue(const std::string& path,
                                     const std::string& name) {
  for (int attempt = 0; attempt < kSizeRetries; ++attempt) {
    ssize_t size = getxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<size_t>(size), '\0');
    ssize_t got =
        getxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<size_t>(got));
      return value;
    }
    if (errno != ERANGE) return std::nullopt;
  }
  return std::nullopt;
}

std::vector<ExtendedAttribute> ReadExtended(const std::string& path) {
  std::vector<ExtendedAttribute> result;
  std::string names = ListNames(path);
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find('\0', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    // Gone since the listing, or not readable by us: leave it out.
    if (std::optional<std::string> value = ReadValue(path, name)) {
      result.push_back({std::move(name), std::move(*value)});
    }
  }
  return result;
}

}  // namespace

std::optional<FileAttributes> CaptureFileAttributes(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  FileAttributes attributes;
  attributes.mode = st.st_mode;
  attributes.owner = st.st_uid;
  attributes.group = st.st_gid;
  attributes.last_access = st.st_atim;
  attributes.last_write = st.st_mtim;
  attributes.extended = ReadExtended(path);
  return attributes;
}

bool IsReadOnly(const FileAttributes& attributes) {
  return (attributes.mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

uint32_t ApplyFileAttributes(int fd, const FileAttributes& attributes) {
  uint32_t failed = kFileAttrNone;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    return kFileAttrOwner | kFileAttrMode | kFileAttrExtended | kFileAttrTimes;
  }
  // Owner first: a change of owner clears the set-id bits, which the mode
  // below then puts back.
  if (st.st_uid != attributes.owner || st.st_gid != attributes.group) {
    if (fchown(fd, attributes.owner, attributes.group) != 0) {
      // Not root: the group alone may still be ours to give.
      bool owner_kept = st.st_uid == attributes.owner;
      bool group_kept =
          st.st_gid == attributes.group ||
          fchown(fd, static_cast<uid_t>(-1), attributes.group) == 0;
      if (!owner_kept || !group_kept) failed |= kFileAttrOwner;
    }
  }
  if (fchmod(fd, attributes.mode & 07777) != 0) failed |= kFileAttrMode;
  // An access ACL travels as system.posix_acl_access and is set after the
  // mode, so that the two agree as they did on the old file.
  for (const ExtendedAttribute& attribute : attributes.extended) {
    if (fsetxattr(fd, attribute.name.c_str(), attribute.value.data(),
                  attribute.value.size(), 0) != 0) {
      failed |= kFileAttrExtended;
    }
  }
  const timespec times[2] = {attributes.last_access, attributes.last_write};
  if (futimens(fd, times) != 0) failed |= kFileAttrTimes;
  return failed;
}

}  // namespace vg::platform
