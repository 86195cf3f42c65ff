// `mvmigrate export` throughput against a bare libcurl client that replays
// the requests of the same export (10000 small mails; one 200 MB
// attachment), and mvmigrate's peak resident memory. The simulator runs in
// a child process of this program (so its memory does not count) and
// writes down every request it received when it is stopped; the replay goes
// to a fresh simulator with the same generated mailbox, so that cursor
// numbers match and only the session id has to be swapped. A plain timed
// program: run by hand, prints figures.
//
//   bench_export [SMALL_MAILS [HUGE_BYTES]]   (defaults 10000 and 200000000)
#include <curl/curl.h>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"

extern char **environ;

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

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The child's side: serve a generated mailbox until SIGTERM, then write
// every request as "ACTION SIZE\n" and the body's bytes.
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

size_t KeepAnswer(char *data, size_t size, size_t count, void *user) {
  static_cast<std::string *>(user)->append(data, size * count);
  return size * count;
}

// The bare client: one handle, the requests in order with their SOAPAction,
// each answer kept in memory (the session id of a login answer replaces the
// recorded one in the requests after it). Returns the failed posts.
int Replay(const std::string &url, std::vector<Recorded> *requests) {
  CURL *curl = curl_easy_init();
  std::string endpoint = url + "/soap";
  std::string answer;
  curl_easy_setopt(curl, CURLOPT_URL, endpoint.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
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
    answer.clear();
    if (curl_easy_perform(curl) != CURLE_OK) ++failed;
    curl_slist_free_all(headers);
    if (r.action == "loginRequest" && i + 1 < requests->size()) {
      newSession = SessionIn(answer);
      oldSession = SessionIn((*requests)[i + 1].body);
    }
  }
  curl_easy_cleanup(curl);
  return failed;
}

// Runs `mvmigrate export` into outDir; *seconds and *peakKb from wait4.
int RunExport(const std::string &mvmigrate, const std::string &url, const std::string &outDir,
              double *seconds, long *peakKb) {
  const char *args[] = {mvmigrate.c_str(), "-q", "--out", outDir.c_str(), "export", "--server", url.c_str(),
                        "--user", "alice", nullptr};
  setenv("MVMIGRATE_PASSWORD", "secret", 1);
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, mvmigrate.c_str(), nullptr, nullptr, const_cast<char **>(args), environ) != 0) return -1;
  int status = 0;
  struct rusage usage = {};
  wait4(pid, &status, 0, &usage);
  *seconds = SecondsSince(start);
  *peakKb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Messages under dir/*/cur (any depth).
int CountMessages(const std::string &dir, bool inCur) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  int count = 0;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      count += CountMessages(path, strcmp(e->d_name, "cur") == 0);
    else if (inCur)
      ++count;
  }
  closedir(d);
  return count;
}

// One export and its replay; prints items/s (small) or MB/s (huge).
void Measure(const std::string &mvmigrate, const std::string &dir, const char *label, int items,
             int64_t hugeBytes) {
  Simulator sim;
  const std::string out = dir + "/" + label;
  if (!StartSimulator(items, hugeBytes, dir + "/" + label + ".rec", &sim)) {
    fprintf(stderr, "%s: simulator did not start\n", label);
    return;
  }
  double exportSeconds = 0;
  long peakKb = 0;
  int rc = RunExport(mvmigrate, sim.url, out, &exportSeconds, &peakKb);
  StopSimulator(&sim);
  std::vector<Recorded> requests = LoadRecording(sim.recordPath);
  int exported = CountMessages(out + "/mail", false);

  Simulator fresh;
  if (!StartSimulator(items, hugeBytes, dir + "/" + label + "-replay.rec", &fresh)) {
    fprintf(stderr, "%s: second simulator did not start\n", label);
    return;
  }
  auto start = std::chrono::steady_clock::now();
  int failed = Replay(fresh.url, &requests);
  double replaySeconds = SecondsSince(start);
  StopSimulator(&fresh);
  if (failed > 0) fprintf(stderr, "%s: %d replayed posts failed\n", label, failed);
  if (hugeBytes > 0) {
    double mb = static_cast<double>(hugeBytes) / 1e6;
    printf("%s: export exit %d, %d messages, %zu requests: mvmigrate %.1f MB/s, bare libcurl %.1f MB/s, "
           "ratio %.2f; mvmigrate peak RSS %.1f MiB\n",
           label, rc, exported, requests.size(), mb / exportSeconds, mb / replaySeconds,
           replaySeconds / exportSeconds, peakKb / 1024.0);
  } else {
    printf("%s: export exit %d, %d messages, %zu requests: mvmigrate %.0f items/s, bare libcurl %.0f items/s, "
           "ratio %.2f; mvmigrate peak RSS %.1f MiB\n",
           label, rc, exported, requests.size(), exported / exportSeconds, exported / replaySeconds,
           replaySeconds / exportSeconds, peakKb / 1024.0);
  }
  fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  const int items = argc > 1 ? static_cast<int>(strtol(argv[1], nullptr, 10)) : 10000;
  const int64_t huge = argc > 2 ? strtoll(argv[2], nullptr, 10) : 200000000;
  std::string self = argv[0];
  std::string binDir = self.substr(0, self.find_last_of('/') + 1);
  std::string mvmigrate = binDir + "mvmigrate";
  char dirTemplate[] = "/tmp/bench-export-XXXXXX";
  const char *dir = mkdtemp(dirTemplate);
  if (dir == nullptr) return 1;
  curl_global_init(CURL_GLOBAL_ALL);
  if (items > 0) Measure(mvmigrate, dir, "small", items, 0);
  if (huge > 0) Measure(mvmigrate, dir, "huge", 1, huge);
  curl_global_cleanup();
  if (getenv("BENCH_KEEP") == nullptr) {
    std::string cleanup = std::string("rm -rf '") + dir + "'";
    if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  } else {
    printf("kept %s\n", dir);
  }
  return 0;
}
