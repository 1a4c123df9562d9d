#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vg::cli {
namespace {

// Parses "vignettes" followed by `args`.
ParsedOptions Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "vignettes");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ParseOptions(static_cast<int>(args.size()), argv.data());
}

// Returns the options, failing the test on a usage problem.
Options Accepted(const std::vector<std::string>& args) {
  ParsedOptions parsed = Parse(args);
  if (const auto* problem = std::get_if<UsageProblem>(&parsed)) {
    ADD_FAILURE() << "refused: " << problem->message;
    return {};
  }
  return std::get<Options>(parsed);
}

// Returns the problem's message, failing the test when the line is accepted
// or refused with another exit code than 2.
std::string Refused(const std::vector<std::string>& args) {
  ParsedOptions parsed = Parse(args);
  const auto* problem = std::get_if<UsageProblem>(&parsed);
  if (problem == nullptr) {
    ADD_FAILURE() << "accepted";
    return "";
  }
  EXPECT_EQ(problem->exit_code, 2);
  return problem->message;
}

TEST(ParseOptionsTest, AValueAfterEqualsOrAsTheNextWord) {
  Options o = Accepted({"--origin=in", "--dest", "out", "--width=150"});
  EXPECT_EQ(o.request, Request::kBatch);
  EXPECT_EQ(o.origin, "in");
  EXPECT_EQ(o.dest, "out");
  EXPECT_EQ(o.width, "150");
  EXPECT_FALSE(o.small || o.large);
  EXPECT_EQ(o.jobs, 0);
  EXPECT_FALSE(o.quiet);

  o = Accepted(
      {"--origin", "in", "--dest=out", "--small", "100", "--large=450"});
  EXPECT_EQ(o.dest, "out");
  EXPECT_EQ(o.small, "100");
  EXPECT_EQ(o.large, "450");
  EXPECT_FALSE(o.width);

  // Only the first "=" separates; a value may itself start with "-".
  o = Accepted({"--origin=a=b", "--dest", "-out", "--width", "9"});
  EXPECT_EQ(o.origin, "a=b");
  EXPECT_EQ(o.dest, "-out");
}

TEST(ParseOptionsTest, JobsGluedSeparateOrLongAndShortFlagsGrouped) {
  const std::vector<std::string> base = {"--origin", "in",      "--dest",
                                         "out",      "--width", "10"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return Accepted(args);
  };
  EXPECT_EQ(with({"-j4"}).jobs, 4);
  EXPECT_EQ(with({"-j", "4"}).jobs, 4);
  EXPECT_EQ(with({"--jobs=256"}).jobs, 256);
  EXPECT_EQ(with({"--jobs", "1"}).jobs, 1);
  EXPECT_EQ(with({"-j", "3", "-j", "5"}).jobs, 5);  // the last one counts

  Options o = with({"-qj", "2"});
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.jobs, 2);
  o = with({"-qj2"});
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.jobs, 2);
  EXPECT_TRUE(with({"--quiet"}).quiet);
  EXPECT_TRUE(with({"-q"}).quiet);
}

TEST(ParseOptionsTest, UniquePrefixesOfLongOptions) {
  Options o = Accepted(
      {"--or=in", "--d", "out", "--sm", "1", "--la=2", "--jo", "3", "--qu"});
  EXPECT_EQ(o.origin, "in");
  EXPECT_EQ(o.dest, "out");
  EXPECT_EQ(o.small, "1");
  EXPECT_EQ(o.large, "2");
  EXPECT_EQ(o.jobs, 3);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(Accepted({"--he"}).request, Request::kHelp);
  EXPECT_EQ(Accepted({"--vers"}).request, Request::kVersion);
  // Longer than the name is no prefix.
  EXPECT_EQ(Refused({"--origins=in"}), "unknown argument '--origins=in'");
  // --d and --de name --dest as they did before --decode-timeout came.
  EXPECT_EQ(Accepted({"--or=in", "--de=out", "--wi=5"}).dest, "out");
  EXPECT_EQ(Accepted({"--or=in", "--d", "out", "--wi=5", "--dec", "2.5"})
                .decode_timeout_seconds,
            2.5);
}

TEST(ParseOptionsTest, DecodeTimeoutTakesSecondsOverZero) {
  const std::vector<std::string> job = {"--origin", "in",      "--dest",
                                        "out",      "--width", "5"};
  EXPECT_EQ(Accepted(job).decode_timeout_seconds, 20);
  std::vector<std::string> quick = job;
  quick.push_back("--decode-timeout=0.25");
  EXPECT_EQ(Accepted(quick).decode_timeout_seconds, 0.25);
  for (const char* wrong : {"0", "-1", "abc", "2s", "", "nan", "86401"}) {
    EXPECT_EQ(Refused({"--decode-timeout", wrong}),
              "--decode-timeout takes a number of seconds, over 0 and at most "
              "86400")
        << wrong;
  }
}

TEST(ParseOptionsTest, DoubleDashEndsTheOptions) {
  Options o =
      Accepted({"--origin", "in", "--dest", "out", "--width", "5", "--"});
  EXPECT_EQ(o.width, "5");
  // After "--" every word is an operand, and the command line takes none.
  EXPECT_EQ(Refused({"--origin", "in", "--dest", "out", "--", "--width", "5"}),
            "unknown argument '--width'");
  EXPECT_EQ(Refused({"--origin", "in", "--dest", "out", "--width", "5", "--",
                     "photos"}),
            "unknown argument 'photos'");
}

TEST(ParseOptionsTest, AStrayWordIsRefusedWhereverItStands) {
  EXPECT_EQ(
      Refused({"photos", "--origin", "in", "--dest", "out", "--width", "5"}),
      "unknown argument 'photos'");
  EXPECT_EQ(Refused({"--origin", "in", "--dest", "out", "--width", "5", "-"}),
            "unknown argument '-'");
}

TEST(ParseOptionsTest, HelpAndVersionAnswerAtOnceUnlessAProblemCameFirst) {
  EXPECT_EQ(Accepted({"-h"}).request, Request::kHelp);
  EXPECT_EQ(Accepted({"--help", "--bogus"}).request, Request::kHelp);
  EXPECT_EQ(Accepted({"-qh"}).request, Request::kHelp);
  EXPECT_EQ(Accepted({"photos", "--help"}).request, Request::kHelp);
  EXPECT_EQ(Accepted({"--version", "-j", "0"}).request, Request::kVersion);
  EXPECT_EQ(Refused({"--bogus", "--help"}), "unknown argument '--bogus'");
  EXPECT_EQ(Refused({"-j", "0", "--version"}),
            "--jobs takes a number from 1 to 256");
}

TEST(ParseOptionsTest, AMissingValueNamesTheOptionAsWritten) {
  EXPECT_EQ(Refused({"--origin"}), "--origin needs a value");
  EXPECT_EQ(Refused({"--origin", "in", "--ori"}), "--origin needs a value");
  EXPECT_EQ(Refused({"--dest", "out", "--width"}), "--width needs a value");
  EXPECT_EQ(Refused({"--jobs"}), "--jobs needs a value");
  EXPECT_EQ(Refused({"-j"}), "-j needs a value");
  EXPECT_EQ(Refused({"-qj"}), "-j needs a value");
}

TEST(ParseOptionsTest, UnknownOptionsAndValuesWhereNoneGo) {
  EXPECT_EQ(Refused({"--bogus"}), "unknown argument '--bogus'");
  EXPECT_EQ(Refused({"--bogus=1"}), "unknown argument '--bogus=1'");
  EXPECT_EQ(Refused({"-x"}), "unknown argument '-x'");
  EXPECT_EQ(Refused({"-qx"}), "unknown argument '-x'");
  EXPECT_EQ(Refused({"-xq"}), "unknown argument '-x'");
  EXPECT_EQ(Refused({"-:"}), "unknown argument '-:'");
  EXPECT_EQ(Refused({"--quiet=1"}), "--quiet takes no value");
  EXPECT_EQ(Refused({"--qu=1"}), "--quiet takes no value");
  EXPECT_EQ(Refused({"--help=1"}), "--help takes no value");
  EXPECT_EQ(Refused({"--version=1"}), "--version takes no value");
}

TEST(ParseOptionsTest, JobsOutOfRangeOrNotANumber) {
  for (const char* jobs :
       {"0", "257", "-3", "abc", "4x", "", "99999999999999999999"}) {
    EXPECT_EQ(Refused({"--origin", "in", "--dest", "out", "--width", "5",
                       std::string("--jobs=") + jobs}),
              "--jobs takes a number from 1 to 256")
        << jobs;
  }
  EXPECT_EQ(Refused({"-j0"}), "--jobs takes a number from 1 to 256");
}

TEST(ParseOptionsTest, TheOptionsGivenTogetherMustMakeOneRun) {
  EXPECT_EQ(Refused({}), "--origin and --dest are both needed");
  EXPECT_EQ(Refused({"--origin=in", "--width=5"}),
            "--origin and --dest are both needed");
  EXPECT_EQ(Refused({"--origin=", "--dest=out", "--width=5"}),
            "--origin and --dest are both needed");
  const std::string either = "give either --width, or both --small and --large";
  EXPECT_EQ(Refused({"--origin=in", "--dest=out"}), either);
  EXPECT_EQ(Refused({"--origin=in", "--dest=out", "--small=5"}), either);
  EXPECT_EQ(Refused({"--origin=in", "--dest=out", "--width=10", "--small=5",
                     "--large=9"}),
            either);
  for (const char* width : {"abc", "0", "65536", "", "1e999"}) {
    EXPECT_EQ(
        Refused({"--origin=in", "--dest=out", std::string("--width=") + width}),
        "'" + std::string(width) + "' is not a width in pixels (1 to 65535)");
  }
  EXPECT_EQ(Refused({"--origin=in", "--dest=out", "--small=5", "--large=0"}),
            "'0' is not a width in pixels (1 to 65535)");
}

TEST(ParseOptionsTest, TheCallersArgumentsKeepTheirOrder) {
  std::vector<std::string> args = {"vignettes", "stray",  "--origin", "in",
                                   "--dest",    "out",    "-qj2",     "--",
                                   "after",     "--width"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::vector<char*> before = argv;
  (void)ParseOptions(static_cast<int>(args.size()), argv.data());
  EXPECT_EQ(argv, before);
}

TEST(ParseOptionsTest, EachCallStartsAfresh) {
  // The first call stops inside a group, the second must not resume it,
  // whose words are gone by then.
  EXPECT_EQ(Refused({"-xqqqq"}), "unknown argument '-x'");
  Options o = Accepted({"--origin=in", "--dest=out", "--width=7"});
  EXPECT_FALSE(o.quiet);
  EXPECT_EQ(o.width, "7");
  EXPECT_EQ(Refused({"--origin=in"}), "--origin and --dest are both needed");
}

TEST(ParseOptionsTest, TheExampleOfTheHelpRuns) {
  std::istringstream help(UsageText());
  std::string line;
  std::vector<std::string> words;
  while (std::getline(help, line)) {
    if (line.rfind("  vignettes --origin=", 0) != 0) continue;
    std::istringstream split(line);
    std::string word;
    split >> word;  // the program
    while (split >> word) words.push_back(word);
  }
  ASSERT_FALSE(words.empty()) << "no example with '=' in the help";
  Options o = Accepted(words);
  EXPECT_FALSE(o.origin.empty());
  EXPECT_FALSE(o.dest.empty());
  EXPECT_TRUE(o.width || (o.small && o.large));
}

// The scheduler's variables, set for one scope and put back after it.
class Environment {
 public:
  Environment() {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      if (value != nullptr) saved_.emplace_back(name, value);
      unsetenv(name);
    }
  }
  ~Environment() {
    for (const char* name : kNames) unsetenv(name);
    for (const auto& [name, value] : saved_) {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  void Set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  static constexpr const char* kNames[] = {
      "SLURM_ARRAY_TASK_ID",  "SLURM_ARRAY_TASK_COUNT", "SLURM_ARRAY_TASK_MIN",
      "SLURM_ARRAY_TASK_MAX", "SLURM_ARRAY_TASK_STEP",  "JOB_COMPLETION_INDEX"};
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST(ParseOptionsTest, CollectionOptions) {
  Environment environment;
  Options o =
      Accepted({"-r0", "--origin", "in", "--dest", "out", "--width", "5",
                "--shard", "2/3", "--report", "r.jsonl", "--files-from=-"});
  EXPECT_TRUE(o.recursive && o.null_separated);
  EXPECT_FALSE(o.update);
  EXPECT_EQ(o.shard_index, 2u);
  EXPECT_EQ(o.shard_count, 3u);
  EXPECT_EQ(o.report, "r.jsonl");
  EXPECT_EQ(o.files_from, "-");
  o = Accepted({"--recursive", "--update", "--null", "--origin", "in", "--dest",
                "out", "--width", "5"});
  EXPECT_TRUE(o.recursive && o.update && o.null_separated);
  EXPECT_EQ(o.shard_count, 1u);

  for (const char* bad : {"3/2", "2/2", "0/0", "1", "-1/2", "1/", "/2", "a/b",
                          "1/2/3", " 1/2", "auto/0", "auto/x"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Refused({"--origin", "in", "--dest", "out", "--width", "5",
                       "--shard", bad})
                  .rfind(std::string("--shard ") + bad + ": ", 0),
              0u);
  }
  EXPECT_EQ(Refused({"--shard", "auto"}),
            "--shard auto: no Slurm array task here (SLURM_ARRAY_TASK_ID, "
            "SLURM_ARRAY_TASK_COUNT); give auto/N with JOB_COMPLETION_INDEX, "
            "or K/N");
  EXPECT_NE(Refused({"--shard", "auto/4"}).find("neither JOB_COMPLETION_INDEX"),
            std::string::npos);
}

TEST(ParseOptionsTest, CacheTakesItsSizesAndTheOriginAlone) {
  const struct {
    std::vector<std::string> args;
    std::vector<int32_t> pixels;
  } accepted[] = {
      {{"--cache", "--origin=in"}, {128, 256}},
      {{"--origin=in", "--cache=xx-large,normal", "-ru"}, {128, 1024}},
      {{"--ca=large", "--origin", "in", "--shard", "1/2"}, {256}},
  };
  for (const auto& c : accepted) {
    const Options o = Accepted(c.args);
    ASSERT_TRUE(o.cache_sizes.has_value()) << c.args[0];
    std::vector<int32_t> pixels;
    for (const thumbnail::CacheSize& size : *o.cache_sizes) {
      pixels.push_back(size.pixels);
    }
    EXPECT_EQ(pixels, c.pixels) << c.args[0];
  }
  const std::string no_dest =
      "--cache writes into the desktop's thumbnail cache: give no --dest, "
      "--width, --small or --large";
  EXPECT_EQ(Refused({"--cache", "--origin=in", "--dest=out"}), no_dest);
  EXPECT_EQ(Refused({"--cache", "--origin=in", "--width=5"}), no_dest);
  EXPECT_EQ(Refused({"--cache"}), "--cache needs --origin");
  // The sizes are glued to the option: a next word is not taken as them.
  EXPECT_EQ(Refused({"--cache", "large", "--origin=in"}),
            "unknown argument 'large'");
  EXPECT_EQ(Refused({"--cache=huge", "--origin=in"}),
            "--cache: unknown thumbnail size 'huge' (normal, large, x-large or "
            "xx-large)");
}

TEST(ReadShardTest, SchedulersEnvironments) {
  uint64_t k = 99, n = 99;
  {
    // What sbatch sets for each task of an array: ids from where --array
    // starts, by its step; a list is told as MIN..MAX by 1 whatever its ids.
    struct Array {
      const char* spec;  // the --array it stands for
      const char* min;
      const char* max;
      const char* step;
      const char* count;
      std::vector<const char*> ids;
      std::vector<uint64_t> shares;  // empty: every task refuses
    };
    const Array arrays[] = {
        {"0-3", "0", "3", "1", "4", {"0", "3"}, {0, 3}},
        {"1-8", "1", "8", "1", "8", {"1", "7", "8"}, {0, 6, 7}},
        {"0-30:10", "0", "30", "10", "4", {"0", "30"}, {0, 3}},
        {"3-12:3", "3", "12", "3", "4", {"3", "6", "12"}, {0, 1, 3}},
        {"0,1,2,3", "0", "3", "1", "4", {"2"}, {2}},
        {"1,3,7", "1", "7", "1", "3", {"1", "3", "7"}, {}},
        {"1,3,5,7", "1", "7", "1", "4", {"1", "3", "5", "7"}, {}},
        {"0-3,5", "0", "5", "1", "5", {"0", "3", "5"}, {}},
        {"0-6:2,7", "0", "7", "2", "5", {"0", "7"}, {}},
    };
    for (const Array& a : arrays) {
      Environment environment;
      environment.Set("SLURM_ARRAY_TASK_MIN", a.min);
      environment.Set("SLURM_ARRAY_TASK_MAX", a.max);
      environment.Set("SLURM_ARRAY_TASK_STEP", a.step);
      environment.Set("SLURM_ARRAY_TASK_COUNT", a.count);
      for (size_t i = 0; i < a.ids.size(); ++i) {
        SCOPED_TRACE(std::string(a.spec) + " task " + a.ids[i]);
        environment.Set("SLURM_ARRAY_TASK_ID", a.ids[i]);
        const std::string problem = ReadShard("auto", &k, &n);
        if (a.shares.empty()) {
          EXPECT_NE(problem.find("not one range"), std::string::npos);
          EXPECT_NE(problem.find("--array=A-B:S"), std::string::npos);
          continue;
        }
        EXPECT_EQ(problem, "");
        EXPECT_EQ(k, a.shares[i]);
        EXPECT_EQ(n, std::stoull(a.count));
      }
    }
  }
  {
    Environment environment;
    environment.Set("SLURM_ARRAY_TASK_MIN", "0");
    environment.Set("SLURM_ARRAY_TASK_MAX", "30");
    environment.Set("SLURM_ARRAY_TASK_STEP", "10");
    environment.Set("SLURM_ARRAY_TASK_COUNT", "4");
    environment.Set("SLURM_ARRAY_TASK_ID", "25");  // not on the step
    EXPECT_NE(ReadShard("auto", &k, &n).find("not in the array's range"),
              std::string::npos);
    environment.Set("SLURM_ARRAY_TASK_ID", "40");  // past the last
    EXPECT_NE(ReadShard("auto", &k, &n).find("not in the array's range"),
              std::string::npos);
    environment.Set("SLURM_ARRAY_TASK_ID", "10");
    environment.Set("SLURM_ARRAY_TASK_COUNT", "99999999999999999");
    EXPECT_NE(ReadShard("auto", &k, &n).find("not one range"),
              std::string::npos);
    environment.Set("SLURM_ARRAY_TASK_COUNT", "x");
    EXPECT_NE(ReadShard("auto", &k, &n).find("is not a count"),
              std::string::npos);
    unsetenv("SLURM_ARRAY_TASK_MAX");
    environment.Set("SLURM_ARRAY_TASK_COUNT", "4");
    EXPECT_NE(ReadShard("auto", &k, &n).find("not SLURM_ARRAY_TASK_MAX"),
              std::string::npos);
  }
  {
    // A Kubernetes indexed Job: the index from the environment, N given.
    Environment environment;
    environment.Set("JOB_COMPLETION_INDEX", "4");
    EXPECT_EQ(ReadShard("auto/5", &k, &n), "");
    EXPECT_EQ(k, 4u);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(ReadShard("auto/4", &k, &n), "the index 4 is not below 4");
    EXPECT_NE(ReadShard("auto", &k, &n), "");  // N is not in its environment
  }
  Environment none;
  EXPECT_EQ(ReadShard("0/1", &k, &n), "");
  EXPECT_EQ(k, 0u);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(ReadShard("3/2", &k, &n), "K must be below N (0 to N-1)");
  EXPECT_EQ(ReadShard("0/0", &k, &n), "N must be 1 or more");
}

}  // namespace
}  // namespace vg::cli
