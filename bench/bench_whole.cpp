// Whole `mvmigrate export` and `mvmigrate import` runs (10000 small mails;
// one 200 MB attachment) against gwsim, each beside a bare libcurl client
// that replays the requests of the same run over one kept-alive connection
// and writes each answer to a file, and mvmigrate's peak resident memory.
// Every simulator runs in a child process of this program (so its memory
// does not count) and writes down the requests it received when stopped;
// the replay goes to a fresh simulator with the same mailbox, so that ids
// and cursors match and only the session id has to be swapped. The import
// reads the tree the export of the same round wrote. Several rounds, then
// the medians. A plain timed program: run by hand, prints figures.
//
//   bench_whole [ROUNDS [SMALL_MAILS [HUGE_BYTES [EXPORT_FLAG]]]]   (defaults 3, 10000, 200000000)
//   EXPORT_FLAG, e.g. --no-writer-thread, is added to every export run.
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"

namespace {

volatile sig_atomic_t gStop = 0;
void OnStop(int) { gStop = 1; }

struct Recorded {
  std::string action;
  std::string body;
};

// A simulator child: its pid, its URL, where it writes the requests.
struct Simulator {
  pid_t pid = -1;
  std::string url;
  std::string recordPath;
};

// What one mvmigrate run and its replay gave.
struct Figures {
  double ours = 0;    // seconds
  double replay = 0;  // seconds
  double oursCpu = 0;    // processor seconds, user and system
  double replayCpu = 0;
  long peakKb = 0;
  int exitCode = -1;
  size_t requests = 0;
  int failedPosts = 0;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The child's side: serve alice's generated mailbox until SIGTERM, then
// write every request as "ACTION SIZE\n" and the body's bytes.
int ServeMain(int items, int64_t hugeBytes, const std::string &recordPath, int urlFd) {
  signal(SIGTERM, OnStop);
  gwsim::Server server;
  gwsim::GeneratedAttachments attachments;
  if (hugeBytes > 0) {
    attachments.perItem = 1;
    attachments.size = hugeBytes;
  }
  {
    auto lock = server.mailbox().Lock();
    if (!gwsim::GenerateMailbox(&server.mailbox(), "alice", 0, items, attachments)) return 1;
  }
  if (!server.Start()) return 1;
  std::string url = server.url() + "\n";
  if (write(urlFd, url.data(), url.size()) != static_cast<ssize_t>(url.size())) return 1;
  close(urlFd);
  while (!gStop) {
    struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  server.Stop();
  FILE *f = fopen(recordPath.c_str(), "wb");
  if (f == nullptr) return 1;
  for (const gwsim::RecordedRequest &r : server.Requests()) {
    fprintf(f, "%s %zu\n", r.soapAction.c_str(), r.body.size());
    fwrite(r.body.data(), 1, r.body.size(), f);
  }
  return fclose(f) == 0 ? 0 : 1;
}

bool StartSimulator(int items, int64_t hugeBytes, const std::string &recordPath, Simulator *sim) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    _exit(ServeMain(items, hugeBytes, recordPath, fds[1]));
  }
  close(fds[1]);
  std::string url;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') url += c;
  close(fds[0]);
  sim->pid = pid;
  sim->url = url;
  sim->recordPath = recordPath;
  return !url.empty();
}

void StopSimulator(Simulator *sim) {
  if (sim->pid <= 0) return;
  kill(sim->pid, SIGTERM);
  int status = 0;
  waitpid(sim->pid, &status, 0);
  sim->pid = -1;
}

std::vector<Recorded> LoadRecording(const std::string &path) {
  std::vector<Recorded> out;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char line[512];
  while (fgets(line, sizeof line, f) != nullptr) {
    char *space = strrchr(line, ' ');
    if (space == nullptr) break;
    Recorded r;
    r.action.assign(line, static_cast<size_t>(space - line));
    size_t size = strtoull(space + 1, nullptr, 10);
    r.body.resize(size);
    if (size > 0 && fread(&r.body[0], 1, size, f) != size) break;
    out.push_back(std::move(r));
  }
  fclose(f);
  return out;
}

// The text after the first "session>" up to the next "<" ("" when none).
std::string SessionIn(const std::string &text) {
  size_t at = text.find("session>");
  if (at == std::string::npos) return "";
  at += 8;
  size_t end = text.find('<', at);
  return end == std::string::npos ? "" : text.substr(at, end - at);
}

void ReplaceAll(std::string *text, const std::string &from, const std::string &to) {
  if (from.empty() || from == to) return;
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// Where the replay puts an answer: its file, and the first bytes kept for
// the session id of a login answer.
struct AnswerSink {
  FILE *file = nullptr;
  std::string head;
};

size_t WriteAnswer(char *data, size_t size, size_t count, void *user) {
  auto *sink = static_cast<AnswerSink *>(user);
  const size_t n = size * count;
  if (sink->head.size() < 4096) sink->head.append(data, std::min(n, 4096 - sink->head.size()));
  return sink->file != nullptr ? fwrite(data, 1, n, sink->file) : n;
}

// The bare client: one handle, the requests in order with their SOAPAction,
// each answer written to answerPath (the session id of a login answer
// replaces the recorded one in the requests after it). Returns the failed
// posts.
int Replay(const std::string &url, std::vector<Recorded> *requests, const std::string &answerPath) {
  CURL *curl = curl_easy_init();
  std::string endpoint = url + "/soap";
  AnswerSink sink;
  curl_easy_setopt(curl, CURLOPT_URL, endpoint.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  int failed = 0;
  std::string oldSession, newSession;
  for (size_t i = 0; i < requests->size(); ++i) {
    Recorded &r = (*requests)[i];
    if (!oldSession.empty()) ReplaceAll(&r.body, oldSession, newSession);
    struct curl_slist *headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
    headers = curl_slist_append(headers, ("SOAPAction: \"" + r.action + "\"").c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, r.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    sink.head.clear();
    // A new file each time, as mvmigrate makes its work files: on ext4,
    // truncating a file that holds data forces its blocks out at close.
    remove(answerPath.c_str());
    sink.file = fopen(answerPath.c_str(), "wb");
    if (curl_easy_perform(curl) != CURLE_OK) ++failed;
    if (sink.file != nullptr) fclose(sink.file);
    curl_slist_free_all(headers);
    if (r.action == "loginRequest" && i + 1 < requests->size()) {
      newSession = SessionIn(sink.head);
      oldSession = SessionIn((*requests)[i + 1].body);
    }
  }
  curl_easy_cleanup(curl);
  return failed;
}

// Runs mvmigrate with args; *seconds and *peakKb from wait4.
double CpuSeconds(const struct rusage &u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int RunMvmigrate(const std::string &mvmigrate, const std::vector<std::string> &args, double *seconds,
                 double *cpu, long *peakKb) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(mvmigrate.c_str()));
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  setenv("MVMIGRATE_PASSWORD", "secret", 1);
  auto start = std::chrono::steady_clock::now();
  // fork, not posix_spawn: a child that shares this process's memory
  // until its exec inherits this process's peak (the recordings read
  // before) as its own. Its summary and progress lines go to /dev/null.
  fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execv(mvmigrate.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  wait4(pid, &status, 0, &usage);
  *seconds = SecondsSince(start);
  *peakKb = usage.ru_maxrss;
  *cpu = CpuSeconds(usage);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One mvmigrate run against a simulator serving `items` generated mails,
// then the replay of its requests against a fresh one.
Figures Measure(const std::string &mvmigrate, const std::string &dir, const std::string &label, int items,
                int64_t hugeBytes, const std::vector<std::string> &argsBeforeServer) {
  Figures fig;
  Simulator sim;
  if (!StartSimulator(items, hugeBytes, dir + "/" + label + ".rec", &sim)) {
    fprintf(stderr, "%s: simulator did not start\n", label.c_str());
    return fig;
  }
  std::vector<std::string> args = argsBeforeServer;
  args.insert(args.end(), {"--server", sim.url, "--user", "alice"});
  // Neither side pays for what an earlier step left to write back (the
  // previous run's tree, the recording of hundreds of megabytes): on a
  // loop-mounted image that writeback doubles through the host's page cache.
  sync();
  fig.exitCode = RunMvmigrate(mvmigrate, args, &fig.ours, &fig.oursCpu, &fig.peakKb);
  StopSimulator(&sim);
  std::vector<Recorded> requests = LoadRecording(sim.recordPath);
  remove(sim.recordPath.c_str());
  fig.requests = requests.size();

  Simulator fresh;
  if (!StartSimulator(items, hugeBytes, dir + "/" + label + "-replay.rec", &fresh)) {
    fprintf(stderr, "%s: second simulator did not start\n", label.c_str());
    return fig;
  }
  sync();
  struct rusage before = {}, after = {};
  getrusage(RUSAGE_SELF, &before);
  auto start = std::chrono::steady_clock::now();
  fig.failedPosts = Replay(fresh.url, &requests, dir + "/answer.xml");
  fig.replay = SecondsSince(start);
  getrusage(RUSAGE_SELF, &after);
  fig.replayCpu = CpuSeconds(after) - CpuSeconds(before);
  StopSimulator(&fresh);
  remove(fresh.recordPath.c_str());
  return fig;
}

// Moves a run's tree out of the way until the end. Deleting it here would
// slow the next runs: ext4 makes a new file skip every inode deleted in the
// last seconds, and a run of small mails deletes thousands.
void MoveAside(const std::string &path, int *count) {
  const std::string to = path + ".done" + std::to_string((*count)++);
  if (rename(path.c_str(), to.c_str()) != 0) fprintf(stderr, "could not move %s aside\n", path.c_str());
}

void RemoveTree(const std::string &path) {
  std::string cmd = "rm -rf '" + path + "'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path.c_str());
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Series {
  const char *name;
  std::vector<Figures> rounds;
};

void PrintRound(const Series &s, const Figures &f) {
  printf("  %-24s exit %d, %zu requests%s: mvmigrate %.2f s (%.2f s cpu), replay %.2f s (%.2f s cpu), ratio %.2f, "
         "peak %.1f MiB\n",
         s.name, f.exitCode, f.requests, f.failedPosts > 0 ? " (replay posts failed)" : "", f.ours, f.oursCpu,
         f.replay, f.replayCpu, f.ours > 0 ? f.replay / f.ours : 0, f.peakKb / 1024.0);
  fflush(stdout);
}

void PrintMedians(const std::vector<Series> &all) {
  size_t rounds = 0;
  for (const Series &s : all) rounds = std::max(rounds, s.rounds.size());
  printf("\nmedians of %zu rounds\n", rounds);
  printf("| run | mvmigrate s | replay s | ours vs the replay | peak MiB |\n|---|---|---|---|---|\n");
  for (const Series &s : all) {
    std::vector<double> ours, replay, ratio, peak;
    for (const Figures &f : s.rounds) {
      ours.push_back(f.ours);
      replay.push_back(f.replay);
      ratio.push_back(f.ours > 0 ? f.replay / f.ours : 0);
      peak.push_back(f.peakKb / 1024.0);
    }
    printf("| %s | %.2f | %.2f | %.2f | %.1f |\n", s.name, Median(ours), Median(replay), Median(ratio),
           Median(peak));
  }
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? static_cast<int>(strtol(argv[1], nullptr, 10)) : 3;
  const int items = argc > 2 ? static_cast<int>(strtol(argv[2], nullptr, 10)) : 10000;
  const int64_t huge = argc > 3 ? strtoll(argv[3], nullptr, 10) : 200000000;
  std::vector<std::string> exportArgs = {"-q", "--out", "", "export"};
  if (argc > 4) exportArgs.push_back(argv[4]);
  std::string self = argv[0];
  std::string binDir = self.substr(0, self.find_last_of('/') + 1);
  std::string mvmigrate = binDir + "mvmigrate";
  // TMPDIR picks the file system measured (the default /tmp).
  const char *tmp = getenv("TMPDIR");
  std::string dirTemplate = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bench-whole-XXXXXX";
  const char *dir = mkdtemp(&dirTemplate[0]);
  if (dir == nullptr) return 1;
  curl_global_init(CURL_GLOBAL_ALL);
  std::vector<Series> all = {{"export, small mails", {}},
                             {"import, small mails", {}},
                             {"export, one attachment", {}},
                             {"import, one attachment", {}}};
  int aside = 0;
  for (int round = 0; round < rounds; ++round) {
    printf("round %d\n", round + 1);
    for (int kind = 0; kind < 2; ++kind) {
      const bool small = kind == 0;
      if (small ? items <= 0 : huge <= 0) continue;
      const int mails = small ? items : 1;
      const int64_t bytes = small ? 0 : huge;
      const std::string tree = std::string(dir) + "/tree", imported = std::string(dir) + "/imported";
      Series &ex = all[small ? 0 : 2];
      exportArgs[2] = tree;
      ex.rounds.push_back(Measure(mvmigrate, dir, "export", mails, bytes, exportArgs));
      PrintRound(ex, ex.rounds.back());
      // The import writes what the export wrote into an empty mailbox.
      Series &im = all[small ? 1 : 3];
      im.rounds.push_back(Measure(mvmigrate, dir, "import", 0, 0, {"-q", "--out", imported, "import", "--in", tree}));
      PrintRound(im, im.rounds.back());
      MoveAside(tree, &aside);
      MoveAside(imported, &aside);
    }
  }
  PrintMedians(all);
  curl_global_cleanup();
  RemoveTree(dir);
  return 0;
}
