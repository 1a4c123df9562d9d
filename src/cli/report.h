// File: cli/report.h
//
// The run's report (--report FILE): one JSON object a line for every
// picture, so that the reports of many runs can be joined and the failed
// pictures run again.
//
//   {"input":"in/a.jpg","outputs":["out/a.jpg","out/Grand/a.jpg"],
//    "status":"written","reason":"","ms":12.5}
//
// Paths are the file names' bytes: UTF-8 as JSON text, and a byte that is
// not part of valid UTF-8 as "\udcXX" (XX its value, 80 to ff), the lone
// surrogate Python's "surrogateescape" gives it, so that
// os.fsencode(json.loads(line)["input"]) is the file's name again.
#ifndef VG_CLI_REPORT_H_
#define VG_CLI_REPORT_H_

#include <string>
#include <string_view>

#include "thumbnail/engine.h"

namespace vg::cli {

// Returns `text` (a path as the engine holds it: UTF-16 with escaped bytes)
// as a JSON string, quotes included.
std::string JsonString(std::u16string_view text);

// Returns the report line of `result`, ending with a newline.
std::string ReportLine(const thumbnail::PictureResult& result);

}  // namespace vg::cli

#endif  // VG_CLI_REPORT_H_
