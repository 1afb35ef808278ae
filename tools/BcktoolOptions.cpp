#include "BcktoolOptions.h"

#include <cstdlib>
#include <map>

namespace vantari {

namespace {

const std::map<std::string, TCompressionLevel> kLevels = {
    {"fastest", clFastest}, {"1", clFastest}, {"none", clNone}, {"0", clNone},
    {"default", clDefault}, {"6", clDefault}, {"max", clMax},   {"9", clMax}};

const std::map<std::string, TRestoreMode> kModes = {{"all", rmAll},
                                                    {"no-overwrite", rmNoOverwrite},
                                                    {"newer", rmNewer},
                                                    {"existing", rmExisting},
                                                    {"existing-newer", rmExistingNewer}};

int32_t ParseSize(const std::string &text) {
  char *end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  long long factor = 1;
  const std::string suffix = end ? end : "";
  if (suffix == "k" || suffix == "K")
    factor = 1000;
  else if (suffix == "m" || suffix == "M")
    factor = 1000 * 1000;
  else if (!suffix.empty() || end == text.c_str())
    throw EUsageError("invalid volume size '" + text + "'");
  const long long size = value * factor;
  if (size != 0 && (size <= 16484 || size > 0x7FFFFFFF))
    throw EUsageError("volume size must be 0 or from 16485 to 2147483647 bytes");
  return static_cast<int32_t>(size);
}

template <typename T>
T Lookup(const std::map<std::string, T> &table, const std::string &key, const char *what) {
  const auto found = table.find(key);
  if (found == table.end())
    throw EUsageError(std::string("invalid ") + what + " '" + key + "'");
  return found->second;
}

// Takes the value of an option given as "--name=value", "--name value" or "-x value".
std::string TakeValue(const std::vector<std::string> &args, size_t &i, const std::string &inline_) {
  if (!inline_.empty())
    return inline_;
  if (i + 1 >= args.size())
    throw EUsageError("option '" + args[i] + "' needs a value");
  return args[++i];
}

void ApplyOption(TBcktoolOptions &o, const std::vector<std::string> &args, size_t &i) {
  std::string name = args[i];
  std::string value;
  const size_t eq = name.find('=');
  if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
    value = name.substr(eq + 1);
    name = name.substr(0, eq);
  }
  if (name == "-t" || name == "--title")
    o.Title = TakeValue(args, i, value);
  else if (name == "-l" || name == "--level")
    o.Level = Lookup(kLevels, TakeValue(args, i, value), "level");
  else if (name == "-v" || name == "--volume-size")
    o.VolumeSize = ParseSize(TakeValue(args, i, value));
  else if (name == "-m" || name == "--mode")
    o.Mode = Lookup(kModes, TakeValue(args, i, value), "restore mode");
  else if (name == "-i" || name == "--file-ids")
    o.FileIds = true;
  else if (name == "--incremental")
    o.Incremental = true;
  else if (name == "--clear-archive")
    o.ClearArchive = true;
  else if (name == "-f" || name == "--full-path")
    o.FullPath = true;
  else if (name == "-q" || name == "--quiet")
    o.Quiet = true;
  else
    throw EUsageError("unknown option '" + args[i] + "'");
}

void CheckOperands(const TBcktoolOptions &o) {
  const size_t n = o.Operands.size();
  const bool ok = (o.Command == "create" && n >= 1) || (o.Command == "extract" && n == 2) ||
                  ((o.Command == "list" || o.Command == "verify") && n == 1);
  if (!ok)
    throw EUsageError("wrong number of operands for '" + o.Command + "'");
  // An empty folder (an unset variable in a script) would restore to the stored paths.
  if (o.Command == "extract" && o.Operands[1].empty())
    throw EUsageError("the destination folder must not be empty");
}

} // namespace

TBcktoolOptions ParseBcktoolOptions(const std::vector<std::string> &args) {
  TBcktoolOptions o;
  bool operandsOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "-h" || arg == "--help") {
      o.Command = "help";
      return o;
    }
    if (arg == "--version") {
      o.Command = "version";
      return o;
    }
    if (!operandsOnly && arg == "--")
      operandsOnly = true;
    else if (!operandsOnly && arg.size() > 1 && arg[0] == '-')
      ApplyOption(o, args, i);
    else if (o.Command.empty())
      o.Command = arg;
    else
      o.Operands.push_back(arg);
  }
  if (o.Command.empty())
    throw EUsageError("no command given");
  if (o.Command != "create" && o.Command != "list" && o.Command != "verify" &&
      o.Command != "extract")
    throw EUsageError("unknown command '" + o.Command + "'");
  CheckOperands(o);
  return o;
}

const char *BcktoolUsage() {
  return R"(Usage: bcktool COMMAND [OPTION]... ARCHIVE [OPERAND]...
Create, list, check and extract Vantari backup archives (.bck).

Commands:
  create ARCHIVE MASK...   pack the files that the wildcard masks select
  list ARCHIVE             show the members with their stored date and size
  verify ARCHIVE           check the whole archive without writing anything
  extract ARCHIVE DIR      restore the members into folder DIR

Masks are paths whose file-name part may hold * and ? (matched without regard to
case; "*.*" matches every name). A mask ending in " /s" also searches every
subfolder. Quote masks so that the shell leaves the wildcards alone.

Options for create:
  -t, --title TEXT         archive title
  -l, --level LEVEL        fastest (default), none, default or max (1, 0, 6, 9)
  -v, --volume-size SIZE   cut the archive into volumes of at most SIZE bytes
                           (k and M suffixes; 0 for one file); volumes after the
                           first are named ARCHIVE with extensions .002, .003, ...
  -i, --file-ids           store the FILE:LIST member (names, dates, sizes)
      --incremental        pack only files whose archive flag is set
      --clear-archive      clear the archive flag of every packed file
Options for extract:
  -m, --mode MODE          all (default), no-overwrite, newer, existing,
                           existing-newer
  -f, --full-path          keep the stored folders below DIR
Common options:
  -q, --quiet              no progress display
  -h, --help               show this help and exit
      --version            show the version and exit

When a further volume is needed, extract asks for it on the terminal; without a
terminal it goes on by itself when the volume is present and stops otherwise.

extract writes only below DIR (which must not be empty) and never through a
symbolic link found there; each file is written whole under a temporary name and
then put in place, so a failed or interrupted extract leaves the old file as it
was. create replaces an existing archive only once the new one is complete.

Exit status: 0 success, 1 failure (damaged or unreadable archive, missing
volume, a file that could not be read or written, cancelled), 2 usage error.
)";
}

} // namespace vantari
