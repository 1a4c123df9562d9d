#include "registry/tool/reg_command.h"

#include <getopt.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_store.h"
#include "registry/tool/reg_text.h"

#ifndef VG_VERSION
#define VG_VERSION "0.0.0"
#endif

namespace vg::registry::tool {
namespace {

using namespace vg::platform;

constexpr const char* kUsage =
    R"(Usage: vignettes-reg [--store=FILE] COMMAND ...
       vignettes-reg --help | --version

  query  KEY [/v NAME | /ve] [/s]
         Lists the values of KEY and its sub-keys (/s: the whole tree below
         it), or shows one value (/v NAME, /ve for the unnamed value).
  add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
         Creates KEY (and every missing key above it) and, with /v or /ve,
         stores a value. TYPE: REG_SZ (the default), REG_EXPAND_SZ,
         REG_MULTI_SZ (items split at SEPARATOR, "\0" by default),
         REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_QWORD (decimal or 0x hex),
         REG_BINARY, REG_NONE (hex digits). An existing value is replaced.
  delete KEY [/v NAME | /ve | /va] [/f]
         Deletes KEY with everything below it, or one value (/v, /ve), or
         every value of KEY (/va).
  export KEY FILE [/y]
         Writes KEY and everything below it to FILE ("-": standard output)
         in the REGEDIT4 text format, UTF-8. /y replaces an existing FILE.
  backup FILE [/y]
         Copies the whole store to FILE, a store file like any other, as it
         is at one moment, even while programs write to it. /y replaces an
         existing FILE.

KEY is ROOT\path\to\key; ROOT is HKCR, HKCU, HKLM, HKU, HKCC or the long
name (HKEY_CURRENT_USER...). Names are case-insensitive; "\" separates
them ("/" is an ordinary character of a name), so quote KEY in the shell.
Switches may start with "/" or "-". Nothing is ever asked: /f is accepted
and changes nothing, /y is needed to replace an export or backup file.

Options, before COMMAND ("--" ends them; long names may be shortened
while they stay unambiguous):
  --store=FILE, --store FILE
         The hive file (created when missing). Without it: the file named
         by $VIGNETTES_REGISTRY, else
         $XDG_DATA_HOME/vignettes/registry.sqlite3.
  -h, --help
         This text ("/?" after COMMAND too).
  --version
         The version.

Example:
  vignettes-reg --store=/tmp/hive.sqlite3 query 'HKCU\Software' /s

Exit status: 0 done, 1 the store refused (missing key or value, access,
locked or unreadable hive), 2 wrong command line.
)";

struct Root {
  const char* short_name;
  const char* long_name;
  HKEY handle;
};

constexpr Root kRoots[] = {
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKU", "HKEY_USERS", HKEY_USERS},
    {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

struct KeyPath {
  HKEY root = 0;
  std::string sub;      // below the root; "" for the root itself
  std::string display;  // LONG_ROOT\sub
};

std::optional<KeyPath> ParseKey(std::string_view text) {
  size_t slash = text.find('\\');
  std::string root = Upper(text.substr(0, slash));
  std::string_view sub = slash == std::string_view::npos
                             ? std::string_view()
                             : text.substr(slash + 1);
  if (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
  for (const Root& r : kRoots) {
    if (root == r.short_name || root == r.long_name) {
      KeyPath key{r.handle, std::string(sub), r.long_name};
      if (!sub.empty()) key.display += "\\" + key.sub;
      return key;
    }
  }
  return std::nullopt;
}

struct Value {
  std::string name;
  uint32_t type = 0;
  std::string data;
};

// Reads every value of `key` in enumeration order.
int32_t ReadValues(HKEY key, std::vector<Value>* values) {
  std::vector<char> name(65536);
  for (uint32_t index = 0;; ++index) {
    uint32_t chars = static_cast<uint32_t>(name.size());
    uint32_t type = 0;
    uint32_t size = 0;
    int32_t r = RegEnumValueA(key, index, name.data(), &chars, nullptr, &type,
                              nullptr, &size);
    if (r == kRegNoMoreItems) return kRegSuccess;
    if (r != kRegSuccess) return r;
    Value v{std::string(name.data(), chars), type, {}};
    // Another process may grow the value between the two calls: retry.
    for (int attempt = 0; attempt < 8; ++attempt) {
      v.data.resize(size);
      r = RegQueryValueExA(key, v.name.c_str(), nullptr, &v.type,
                           reinterpret_cast<uint8_t*>(v.data.data()), &size);
      if (r != kRegMoreData) break;
    }
    if (r != kRegSuccess) return r;
    v.data.resize(size);
    values->push_back(std::move(v));
  }
}

int32_t ReadSubKeys(HKEY key, std::vector<std::string>* names) {
  char name[1024];
  for (uint32_t index = 0;; ++index) {
    int32_t r = RegEnumKeyA(key, index, name, sizeof name);
    if (r == kRegNoMoreItems) return kRegSuccess;
    if (r != kRegSuccess) return r;
    names->emplace_back(name);
  }
}

// Holds one open key for the length of a command.
class OpenedKey {
 public:
  OpenedKey() = default;
  ~OpenedKey() {
    if (handle_ != 0) (void)RegCloseKey(handle_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  int32_t Open(HKEY root, const std::string& sub, uint32_t rights) {
    return RegOpenKeyExA(root, sub.c_str(), 0, rights, &handle_);
  }
  HKEY get() const { return handle_; }
  HKEY* out() { return &handle_; }

 private:
  HKEY handle_ = 0;
};

int Failed(std::ostream& err, int32_t result) {
  err << "ERROR: " << RegResultMessage(result) << "\n";
  return kExitFailed;
}

int Usage(std::ostream& err, const std::string& message) {
  err << "ERROR: " << message << "\nType \"vignettes-reg --help\" for usage.\n";
  return kExitUsage;
}

// The switches of one command, as read from the command line.
struct Switches {
  std::optional<std::string> value_name;  // /v NAME, or "" for /ve
  bool all_values = false;                // /va
  bool recursive = false;                 // /s (query)
  std::optional<std::string> type;        // /t
  std::optional<std::string> separator;   // /s (add)
  std::optional<std::string> data;        // /d
  bool force = false;                     // /f
  bool overwrite = false;                 // /y
  bool help = false;                      // /? (also -? and --help)
  std::vector<std::string> positional;
};

// Reads the arguments after the command; `allowed` lists the switches the
// command takes ("v", "ve", "va", "s", "s:", "t", "d", "f", "y"; "s:" is /s
// with an argument). Returns an error message, or "" when all is well.
std::string ReadSwitches(const std::vector<std::string>& args, size_t first,
                         const std::vector<std::string>& allowed,
                         Switches* sw) {
  auto takes = [&](const std::string& s) {
    for (const std::string& a : allowed) {
      if (a == s) return true;
    }
    return false;
  };
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "/?" || arg == "-?" || arg == "--help") {
      sw->help = true;
      continue;
    }
    // "/v" or "-ve" is a switch; "/tmp/x.reg" is a file and "-" stdout.
    bool is_switch =
        arg.size() >= 2 && arg.size() <= 4 && (arg[0] == '/' || arg[0] == '-');
    for (size_t c = 1; is_switch && c < arg.size(); ++c) {
      is_switch = std::isalpha(static_cast<unsigned char>(arg[c])) != 0;
    }
    if (!is_switch) {
      sw->positional.push_back(arg);
      continue;
    }
    std::string name = arg.substr(1);
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    auto next = [&](std::optional<std::string>* into) -> std::string {
      if (into->has_value()) return "switch " + arg + " given twice";
      if (i + 1 >= args.size()) return "switch " + arg + " needs a value";
      *into = args[++i];
      return "";
    };
    std::string problem;
    if (name == "v" && takes("v")) {
      if (sw->value_name || sw->all_values) {
        return "only one of /v, /ve, /va may be given";
      }
      problem = next(&sw->value_name);
    } else if (name == "ve" && takes("ve")) {
      if (sw->value_name || sw->all_values) {
        return "only one of /v, /ve, /va may be given";
      }
      sw->value_name = "";
    } else if (name == "va" && takes("va")) {
      if (sw->value_name) return "only one of /v, /ve, /va may be given";
      sw->all_values = true;
    } else if (name == "s" && takes("s")) {
      sw->recursive = true;
    } else if (name == "s" && takes("s:")) {
      problem = next(&sw->separator);
    } else if (name == "t" && takes("t")) {
      problem = next(&sw->type);
    } else if (name == "d" && takes("d")) {
      problem = next(&sw->data);
    } else if (name == "f" && takes("f")) {
      sw->force = true;
    } else if (name == "y" && takes("y")) {
      sw->overwrite = true;
    } else {
      return "unknown switch " + arg;
    }
    if (!problem.empty()) return problem;
  }
  return "";
}

void PrintValue(std::ostream& out, const Value& v) {
  out << "    " << (v.name.empty() ? "(Default)" : v.name) << "    "
      << TypeName(v.type) << "    " << ShowData(v.type, v.data) << "\n";
}

int32_t PrintKey(std::ostream& out, HKEY key, const std::string& display,
                 bool recursive) {
  std::vector<Value> values;
  std::vector<std::string> subs;
  if (int32_t r = ReadValues(key, &values); r != kRegSuccess) return r;
  if (int32_t r = ReadSubKeys(key, &subs); r != kRegSuccess) return r;
  out << "\n" << display << "\n";
  for (const Value& v : values) PrintValue(out, v);
  if (!recursive) {
    if (!subs.empty()) out << "\n";
    for (const std::string& s : subs) out << display << "\\" << s << "\n";
    return kRegSuccess;
  }
  for (const std::string& s : subs) {
    OpenedKey child;
    if (int32_t r = child.Open(key, s, KEY_READ); r != kRegSuccess) return r;
    if (int32_t r = PrintKey(out, child.get(), display + "\\" + s, true);
        r != kRegSuccess) {
      return r;
    }
  }
  return kRegSuccess;
}

int Query(const KeyPath& path, const Switches& sw, std::ostream& out,
          std::ostream& err) {
  OpenedKey key;
  if (int32_t r = key.Open(path.root, path.sub, KEY_READ); r != kRegSuccess) {
    return Failed(err, r);
  }
  if (sw.value_name) {
    Value v{*sw.value_name, 0, {}};
    uint32_t size = 0;
    int32_t r = RegQueryValueExA(key.get(), v.name.c_str(), nullptr, &v.type,
                                 nullptr, &size);
    if (r == kRegSuccess) {
      v.data.resize(size);
      r = RegQueryValueExA(key.get(), v.name.c_str(), nullptr, &v.type,
                           reinterpret_cast<uint8_t*>(v.data.data()), &size);
      v.data.resize(size);
    }
    if (r != kRegSuccess) return Failed(err, r);
    out << "\n" << path.display << "\n";
    PrintValue(out, v);
    out << "\n";
    return kExitOk;
  }
  if (int32_t r = PrintKey(out, key.get(), path.display, sw.recursive);
      r != kRegSuccess) {
    return Failed(err, r);
  }
  out << "\n";
  return kExitOk;
}

int Add(const KeyPath& path, const Switches& sw, std::ostream& out,
        std::ostream& err) {
  std::string bytes;
  uint32_t type = REG_SZ;
  if (!sw.value_name && (sw.type || sw.data || sw.separator)) {
    return Usage(err, "/t, /s and /d need /v NAME or /ve");
  }
  if (sw.value_name) {
    if (sw.type) {
      auto parsed = ParseTypeName(*sw.type);
      if (!parsed) return Usage(err, "unknown type " + *sw.type);
      type = *parsed;
    }
    if (sw.separator && type != REG_MULTI_SZ) {
      return Usage(err, "/s is for REG_MULTI_SZ only");
    }
    auto parsed =
        ParseData(type, sw.data.value_or(""), sw.separator.value_or("\\0"));
    if (!parsed) {
      return Usage(err, "invalid data for " + TypeName(type) + ": '" +
                            sw.data.value_or("") + "'");
    }
    bytes = *parsed;
  }
  OpenedKey key;
  int32_t r = RegCreateKeyExA(path.root, path.sub.c_str(), 0, "", 0,
                              KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
  if (r != kRegSuccess) return Failed(err, r);
  if (sw.value_name) {
    r = RegSetValueExA(key.get(), sw.value_name->c_str(), 0, type,
                       reinterpret_cast<const uint8_t*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size()));
    if (r != kRegSuccess) return Failed(err, r);
  }
  out << "The operation completed successfully.\n";
  return kExitOk;
}

// Deletes `sub` below `root` with every key under it, deepest first.
int32_t DeleteTree(HKEY root, const std::string& sub) {
  std::vector<std::string> children;
  {
    OpenedKey key;
    if (int32_t r = key.Open(root, sub, KEY_READ); r != kRegSuccess) return r;
    if (int32_t r = ReadSubKeys(key.get(), &children); r != kRegSuccess) {
      return r;
    }
  }
  for (const std::string& child : children) {
    if (int32_t r = DeleteTree(root, sub + "\\" + child); r != kRegSuccess) {
      return r;
    }
  }
  return RegDeleteKeyA(root, sub.c_str());
}

int Delete(const KeyPath& path, const Switches& sw, std::ostream& out,
           std::ostream& err) {
  if (sw.value_name || sw.all_values) {
    OpenedKey key;
    int32_t r = key.Open(path.root, path.sub, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (r != kRegSuccess) return Failed(err, r);
    std::vector<std::string> names;
    if (sw.value_name) {
      names.push_back(*sw.value_name);
    } else {
      std::vector<Value> values;
      if (r = ReadValues(key.get(), &values); r != kRegSuccess) {
        return Failed(err, r);
      }
      for (Value& v : values) names.push_back(std::move(v.name));
    }
    for (const std::string& name : names) {
      if (r = RegDeleteValueA(key.get(), name.c_str()); r != kRegSuccess) {
        return Failed(err, r);
      }
    }
  } else {
    if (path.sub.empty()) {
      err << "ERROR: A root key cannot be deleted.\n";
      return kExitFailed;
    }
    if (int32_t r = DeleteTree(path.root, path.sub); r != kRegSuccess) {
      return Failed(err, r);
    }
  }
  out << "The operation completed successfully.\n";
  return kExitOk;
}

int32_t ExportKey(HKEY key, const std::string& display, std::string* text) {
  std::vector<Value> values;
  std::vector<std::string> subs;
  if (int32_t r = ReadValues(key, &values); r != kRegSuccess) return r;
  if (int32_t r = ReadSubKeys(key, &subs); r != kRegSuccess) return r;
  *text += "[" + display + "]\n";
  for (const Value& v : values) {
    *text += ExportLine(v.name, v.type, v.data) + "\n";
  }
  *text += "\n";
  for (const std::string& s : subs) {
    OpenedKey child;
    if (int32_t r = child.Open(key, s, KEY_READ); r != kRegSuccess) return r;
    if (int32_t r = ExportKey(child.get(), display + "\\" + s, text);
        r != kRegSuccess) {
      return r;
    }
  }
  return kRegSuccess;
}

int Export(const KeyPath& path, const Switches& sw, std::ostream& out,
           std::ostream& err) {
  const std::string& file = sw.positional[1];
  if (file != "-" && !sw.overwrite && access(file.c_str(), F_OK) == 0) {
    err << "ERROR: " << file << " exists; add /y to replace it.\n";
    return kExitFailed;
  }
  OpenedKey key;
  if (int32_t r = key.Open(path.root, path.sub, KEY_READ); r != kRegSuccess) {
    return Failed(err, r);
  }
  std::string text = "REGEDIT4\n\n";
  if (int32_t r = ExportKey(key.get(), path.display, &text); r != kRegSuccess) {
    return Failed(err, r);
  }
  if (file == "-") {
    out << text;
    return kExitOk;
  }
  // Written aside and renamed, so that FILE is never left half written.
  std::string temp = file + ".partial";
  {
    std::ofstream stream(temp, std::ios::binary | std::ios::trunc);
    stream << text;
    stream.flush();
    if (!stream) {
      std::remove(temp.c_str());
      err << "ERROR: cannot write " << file << "\n";
      return kExitFailed;
    }
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    std::remove(temp.c_str());
    err << "ERROR: cannot write " << file << "\n";
    return kExitFailed;
  }
  out << "The operation completed successfully.\n";
  return kExitOk;
}

int Backup(const Switches& sw, std::ostream& out, std::ostream& err) {
  const std::string& file = sw.positional[0];
  if (file == "-") {
    return Usage(err, "backup writes a file, not standard output");
  }
  if (!sw.overwrite && access(file.c_str(), F_OK) == 0) {
    err << "ERROR: " << file << " exists; add /y to replace it.\n";
    return kExitFailed;
  }
  int32_t r = BackupRegistryStore(file);
  if (r == kRegInvalidParameter) {
    err << "ERROR: " << file << " is the store itself.\n";
    return kExitFailed;
  }
  if (r != kRegSuccess) return Failed(err, r);
  out << "The operation completed successfully.\n";
  return kExitOk;
}

// The program's own options, read as getopt_long reads them: "--store=FILE"
// or "--store FILE", "-h", unambiguous prefixes of the long names, "--"
// ending them; reading stops at the first word that is not an option (the
// command, whose switches are reg's own: "/v", "-ve"...).
struct Options {
  std::optional<std::string> store;
  bool help = false;
  bool version = false;
  size_t command = 0;  // index in the arguments of the first other word
};

// Returns an error message, or "" when all is well.
std::string ReadOptions(const std::vector<std::string>& args,
                        Options* options) {
  std::vector<std::string> words;
  words.reserve(args.size() + 1);
  words.emplace_back("vignettes-reg");
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  enum : int { kStore = 1000, kVersion };
  static const option kLongOptions[] = {
      {"store", required_argument, nullptr, kStore},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  optind = 0;  // a full restart of getopt's own state
  opterr = 0;  // its messages would go to stderr; ours go to `err`
  const int argc = static_cast<int>(words.size());
  for (;;) {
    // "+": stop at the command; ":": a missing value answers ':'.
    int c = getopt_long(argc, argv.data(), "+:h", kLongOptions, nullptr);
    if (c == -1) break;
    std::string word = optind - 1 < argc ? words[optind - 1] : "";
    switch (c) {
      case kStore:
        options->store = optarg;
        break;
      case 'h':
        options->help = true;
        break;
      case kVersion:
        options->version = true;
        break;
      case ':':
        return "--store needs a file";
      default: {
        if (optopt == '?') {  // "-?", as reg asks for help
          options->help = true;
          break;
        }
        bool is_long = word.rfind("--", 0) == 0;
        std::string name = word.substr(0, word.find('='));
        if (is_long && optopt != 0) return "option " + name + " takes no value";
        if (is_long) return "unknown option " + name;
        return std::string("unknown option -") + static_cast<char>(optopt);
      }
    }
  }
  options->command = static_cast<size_t>(optind - 1);
  return "";
}

}  // namespace

int RunReg(const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err) {
  Options options;
  if (std::string problem = ReadOptions(args, &options); !problem.empty()) {
    return Usage(err, problem);
  }
  if (options.help) {
    out << kUsage;
    return kExitOk;
  }
  if (options.version) {
    out << "vignettes-reg " << VG_VERSION << "\n";
    return kExitOk;
  }
  size_t i = options.command;
  std::optional<std::string> store = options.store;
  if (i < args.size() && args[i] == "/?") {
    out << kUsage;
    return kExitOk;
  }
  if (!store) {
    const char* variable = std::getenv(kStoreVariable);
    if (variable != nullptr && variable[0] != '\0') store = variable;
  }
  if (store && store->empty()) return Usage(err, "--store needs a file");
  if (i >= args.size()) return Usage(err, "no command given");

  std::string command = Upper(args[i]);
  std::vector<std::string> allowed;
  size_t positional = 1;
  if (command == "QUERY") {
    allowed = {"v", "ve", "s"};
  } else if (command == "ADD") {
    allowed = {"v", "ve", "t", "s:", "d", "f"};
  } else if (command == "DELETE") {
    allowed = {"v", "ve", "va", "f"};
  } else if (command == "EXPORT") {
    allowed = {"y"};
    positional = 2;
  } else if (command == "BACKUP") {
    allowed = {"y"};
  } else {
    return Usage(err, "unknown command " + args[i]);
  }
  Switches sw;
  if (std::string problem = ReadSwitches(args, i + 1, allowed, &sw);
      !problem.empty()) {
    return Usage(err, problem);
  }
  if (sw.help) {
    out << kUsage;
    return kExitOk;
  }
  // The hive is named only once the command line is known to be right.
  if (store) SetRegistryStorePath(*store);
  if (command == "BACKUP") {
    if (sw.positional.size() != 1) return Usage(err, "give exactly one FILE");
    return Backup(sw, out, err);
  }
  if (sw.positional.size() != positional) {
    return Usage(err, positional == 1 ? "give exactly one KEY"
                                      : "give a KEY and a FILE");
  }
  auto path = ParseKey(sw.positional[0]);
  if (!path) {
    return Usage(err, "invalid key " + sw.positional[0] +
                          " (it starts with HKCR, HKCU, HKLM, HKU or HKCC)");
  }
  if (command == "QUERY") return Query(*path, sw, out, err);
  if (command == "ADD") return Add(*path, sw, out, err);
  if (command == "DELETE") return Delete(*path, sw, out, err);
  return Export(*path, sw, out, err);
}

}  // namespace vg::registry::tool
