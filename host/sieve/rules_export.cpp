// Copying the rules file out of the work directory and writing its Sieve script.
#include "host/sieve/rules_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "host/report/output_file.h"
#include "host/sieve/rules_file.h"

namespace sieve {
namespace {

const char kRulesFile[] = "mboxrules.dat";
const char kSieveFile[] = "rules.sieve";

std::string Slashed(const std::string &dir) { return dir.empty() || dir.back() == '/' ? dir : dir + "/"; }

// Reads the whole file. Returns 0, 1 when it does not exist, or -1.
int ReadWhole(const std::string &path, std::string *text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 1 : -1;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text->append(buf, static_cast<size_t>(n));
  int savedErrno = errno;
  close(fd);
  errno = savedErrno;  // the caller reports why the read failed
  return n < 0 ? -1 : 0;
}

// Length of text up to and with its last whole "^" line.
size_t WholeRulesLength(const std::string &text) {
  size_t whole = 0;
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;  // a line cut short
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    if (line == "^") whole = pos;
  }
  return whole;
}

}  // namespace

std::string MergeRulesFiles(const std::string &earlier, const std::string &current, int *added) {
  std::set<std::string> names;
  for (const MailRule &rule : ParseRulesFile(earlier)) names.insert(rule.name);
  std::string merged = earlier;
  if (!merged.empty() && merged.back() != '\n') merged += '\n';
  int count = 0;
  for (const MailRule &rule : ParseRulesFile(current)) {
    if (!names.insert(rule.name).second) continue;
    for (const std::string &line : rule.lines) merged += line + "\n";
    merged += "^\n";
    ++count;
  }
  if (added != nullptr) *added = count;
  return merged;
}

int ExportRules(const std::string &workDir, const std::string &outDir, RulesExport *result, std::string *error,
                bool wholeRulesOnly) {
  *result = RulesExport();
  const std::string source = Slashed(workDir) + kRulesFile;
  std::string text;
  int read = ReadWhole(source, &text);
  if (read == 1) return 0;
  if (read < 0) {
    *error = "cannot read " + source + ": " + strerror(errno);
    return -1;
  }
  if (wholeRulesOnly) text.resize(WholeRulesLength(text));
  result->found = true;
  const std::string dir = Slashed(outDir) + "rules";
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create " + dir + ": " + strerror(errno);
    return -1;
  }
  std::string earlier;
  if (ReadWhole(dir + "/" + kRulesFile, &earlier) < 0) {
    *error = "cannot read " + dir + "/" + kRulesFile + ": " + strerror(errno);
    return -1;
  }
  if (earlier.empty()) {
    result->added = static_cast<int>(ParseRulesFile(text).size());
  } else {
    text = MergeRulesFiles(earlier, text, &result->added);
  }
  std::string script = SieveScript(ParseRulesFile(text), &result->counts, &result->warnings);
  if (report::WriteOutputFile(dir + "/" + kRulesFile, text, true, error) != 0) return -1;
  if (report::WriteOutputFile(dir + "/" + kSieveFile, script, true, error) != 0) return -1;
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return 0;
}

}  // namespace sieve
