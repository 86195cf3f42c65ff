// The gwsim program: prints its URL, serves the generated mailbox and ends
// cleanly on SIGTERM.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "gwsim_client.h"

extern char **environ;

namespace {

// Runs gwsim with `args`; returns its pid and its first output line.
pid_t Launch(std::vector<std::string> args, std::string *firstLine) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::string program = std::string(MVGWS_BIN_DIR) + "/gwsim";
  args.insert(args.begin(), program);
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  FILE *out = fdopen(pipeEnds[0], "r");
  char line[256] = "";
  if (failed == 0 && out != nullptr && fgets(line, sizeof(line), out) != nullptr) {
    *firstLine = line;
    if (!firstLine->empty() && firstLine->back() == '\n') firstLine->pop_back();
  }
  if (out != nullptr) fclose(out);
  return failed == 0 ? pid : -1;
}

int ExitCodeAfter(pid_t pid, int signal) {
  kill(pid, signal);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProgramTest, ServesTheGeneratedMailboxUntilSigterm) {
  std::string url;
  pid_t pid = Launch({"--port", "0", "--generate-folders", "3", "--generate-items", "30"}, &url);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(0u, url.find("http://127.0.0.1:")) << url;

  gwsim_test::Client client;
  std::string session = gwsim_test::LoginAlice(&client, url);
  EXPECT_FALSE(session.empty());
  pugi::xml_document doc;
  pugi::xml_node answer = gwsim_test::Call(
      &client, url, session, "getFolderListRequest",
      "<m:getFolderListRequest><t:parent>folders</t:parent><t:recurse>true</t:recurse>"
      "</m:getFolderListRequest>",
      &doc);
  int generated = 0;
  for (pugi::xml_node folder : answer.child("gwm:folders").children("gwt:folder")) {
    if (std::string(folder.child("gwt:name").text().get()).find("Generated") == 0) {
      ++generated;
      EXPECT_EQ(10, folder.child("gwt:count").text().as_int());
    }
  }
  EXPECT_EQ(3, generated);
  // The client still holds its keep-alive connection; the program ends anyway.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, ExitCodeAfter(pid, SIGTERM));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(ProgramTest, BadMailboxFileFailsAtStart) {
  std::string firstLine;
  pid_t pid = Launch({"--port", "0", "--mailbox", std::string(MVGWS_TEST_DATA) +
                                                      "/gwsim/broken_mailbox.xml"},
                     &firstLine);
  ASSERT_GT(pid, 0);
  EXPECT_EQ("", firstLine);  // no URL printed
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

}  // namespace
