#include "platform/error.h"

#include <unistd.h>

#include <array>
#include <utility>

namespace vg::platform {

std::string StandardDescription(int32_t number) {
  switch (number) {
    case kErrInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case kErrOverflow:
      return "Overflow";
    case kErrOutOfMemory:
      return "Out of memory";
    case kErrDivisionByZero:
      return "Division by zero";
    case kErrTypeMismatch:
      return "Type mismatch";
    case kErrFileNotFound:
      return "File not found";
    case kErrPermissionDenied:
      return "Permission denied";
    case kErrPathFileAccess:
      return "Path/File access error";
    case kErrPathNotFound:
      return "Path not found";
    case kErrObjectNotSet:
      return "Object variable or With block variable not set";
    case kErrInvalidPropertyValue:
      return "Invalid property value";
    case kErrInvalidUseOfNull:
      return "Invalid use of Null";
    case kErrInvalidPicture:
      return "Invalid picture";
    default:
      return "Application-defined or object-defined error";
  }
}

Error::Error(int32_t number, std::string source, std::string description,
             std::string help_file)
    : std::runtime_error(source + ": " + description + " (" +
                         std::to_string(number) + ")"),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      help_file_(std::move(help_file)) {}

Error Error::Standard(int32_t number, std::string source) {
  return Error(number, std::move(source), StandardDescription(number));
}
Error Error::InvalidCall(std::string source) {
  return Standard(kErrInvalidProcedureCall, std::move(source));
}
Error Error::Overflow(std::string source) {
  return Standard(kErrOverflow, std::move(source));
}
Error Error::DivisionByZero(std::string source) {
  return Standard(kErrDivisionByZero, std::move(source));
}

std::string ProgramName() {
  std::array<char, 4096> buf{};
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  std::string path = n > 0 ? std::string(buf.data(), static_cast<size_t>(n))
                           : std::string("vignettes");
  std::string name = path.substr(path.find_last_of('/') + 1);
  // Only the last extension goes, as with "Project1.exe" -> "Project1".
  if (auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
    name.resize(dot);
  }
  return name;
}

}  // namespace vg::platform
