// File: platform/error.h
//
// The one error type of the system. Every operation that "raises" throws a
// vg::platform::Error carrying a number, a source, a description and, where
// one is given, a help file -- the four items a caller can show or test.
// Callers that resume after a failing step (the batch generators) catch it,
// drop the step and go on.
//
//   try { x = CheckedMul32(a, b); } catch (const Error& e) { e.number(); }
//
// Not for internal failures that never reach a caller of the system's own
// interfaces: those use std::optional or a small result type.
#ifndef VG_PLATFORM_ERROR_H_
#define VG_PLATFORM_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vg::platform {

// Run-time error numbers used across the system.
enum ErrorNumber : int32_t {
  kErrInvalidProcedureCall = 5,  // "Invalid procedure call or argument"
  kErrOverflow = 6,              // "Overflow"
  kErrOutOfMemory = 7,           // "Out of memory"
  kErrDivisionByZero = 11,       // "Division by zero"
  kErrTypeMismatch = 13,         // "Type mismatch"
  kErrFileNotFound = 53,         // "File not found"
  kErrPermissionDenied = 70,     // "Permission denied"
  kErrPathFileAccess = 75,       // "Path/File access error"
  kErrPathNotFound = 76,         // "Path not found"
  kErrObjectNotSet = 91,  // "Object variable or With block variable not set"
  kErrInvalidUseOfNull = 94,       // "Invalid use of Null"
  kErrInvalidPropertyValue = 380,  // "Invalid property value"
  kErrInvalidPicture = 481,        // "Invalid picture"
};

// Returns the standard English description of a run-time error number, or
// "Application-defined or object-defined error" for any other number.
std::string StandardDescription(int32_t number);

class Error : public std::runtime_error {
 public:
  // Makes an error; what() reads "source: description (number)".
  Error(int32_t number, std::string source, std::string description,
        std::string help_file = {});

  // Makes an error with the standard description of `number`.
  static Error Standard(int32_t number, std::string source);
  // Error 5, "Invalid procedure call or argument".
  static Error InvalidCall(std::string source);
  // Error 6, "Overflow".
  static Error Overflow(std::string source);
  // Error 11, "Division by zero".
  static Error DivisionByZero(std::string source);

  int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& help_file() const noexcept { return help_file_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  std::string help_file_;
};

// Returns the source name that run-time errors of this program carry: the
// executable's file name without its extension ("vignettes").
std::string ProgramName();

}  // namespace vg::platform

#endif  // VG_PLATFORM_ERROR_H_
