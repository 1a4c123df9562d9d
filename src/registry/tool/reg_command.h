// File: registry/tool/reg_command.h
//
// vignettes-reg: reads and changes the registry store from a shell, like the
// reg command of Windows. Keys are written ROOT\path\to\key, with ROOT one of
// HKCR, HKCU, HKLM, HKU, HKCC or their long names (HKEY_CURRENT_USER...).
//
//   vignettes-reg add 'HKCU\Software\Vignettes' /v Width /t REG_DWORD /d 150
//   vignettes-reg --store /tmp/hive.sqlite3 query 'HKCU\Software' /s
//
//   vignettes-reg backup ~/registry-backup.sqlite3
//
// Not a registry editor: it imports nothing (export files are for reading).
#ifndef VG_REGISTRY_TOOL_REG_COMMAND_H_
#define VG_REGISTRY_TOOL_REG_COMMAND_H_

#include <ostream>
#include <string>
#include <vector>

namespace vg::registry::tool {

// Exit statuses.
enum RegExit : int {
  kExitOk = 0,      // done
  kExitFailed = 1,  // the store refused: missing key or value, access, I/O
  kExitUsage = 2,   // the command line is wrong
};

// The environment variable that names the hive file when --store is absent.
inline constexpr const char* kStoreVariable = "VIGNETTES_REGISTRY";

// Runs one command line (`args` without the program name). Results go to
// `out`, "ERROR: ..." messages to `err`. Returns a RegExit status.
int RunReg(const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err);

}  // namespace vg::registry::tool

#endif  // VG_REGISTRY_TOOL_REG_COMMAND_H_
