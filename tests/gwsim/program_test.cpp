// The gwsim program: prints its URL, serves the generated mailbox and ends
// cleanly on SIGTERM.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "gwsim_client.h"

namespace {

// Runs gwsim on a free port with 3 generated folders of 10 mails each (two
// 1000-byte attachments each, served in pieces of at most 600 bytes) and 5
// generated contacts; returns
// its pid (-1 on failure) and its first output line.
pid_t Launch(std::string *firstLine) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  const std::string program = std::string(MVGWS_BIN_DIR) + "/gwsim";
  pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls here
    dup2(pipeEnds[1], 1);
    execl(program.c_str(), "gwsim", "--port", "0", "--generate-folders", "3", "--generate-items",
          "30", "--attachments-per-item", "2", "--attachment-size", "1000", "--piece-cap", "600",
          "--generate-contacts", "5", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  FILE *out = fdopen(pipeEnds[0], "r");
  char line[256] = "";
  if (out != nullptr && fgets(line, sizeof(line), out) != nullptr) {
    firstLine->assign(line, strcspn(line, "\n"));
  }
  if (out != nullptr) fclose(out);
  return pid;
}

TEST(ProgramTest, ServesTheGeneratedMailboxUntilSigterm) {
  std::string url;
  pid_t pid = Launch(&url);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(0u, url.find("http://127.0.0.1:")) << url;

  gwsim_test::Client client;
  pugi::xml_document doc;
  pugi::xml_node answer = gwsim_test::Call(
      &client, url, gwsim_test::LoginAlice(&client, url), "getFolderListRequest",
      "<m:getFolderListRequest><t:parent>folders</t:parent><t:recurse>true</t:recurse>"
      "</m:getFolderListRequest>",
      &doc);
  std::vector<std::string> generated;  // the counts of the generated folders
  for (pugi::xpath_node count : answer.select_nodes(
           "gwm:folders/gwt:folder[starts-with(gwt:name, 'Generated')]/gwt:count")) {
    generated.push_back(count.node().text().get());
  }
  EXPECT_EQ((std::vector<std::string>{"10", "10", "10"}), generated);
  // The contacts join the four entries of alice's first personal book.
  pugi::xml_document bookDoc;
  pugi::xml_node books = gwsim_test::Call(&client, url, gwsim_test::LoginAlice(&client, url),
                                          "getAddressBookListRequest",
                                          "<m:getAddressBookListRequest/>", &bookDoc);
  EXPECT_STREQ("9", books.select_node("gwm:books/gwt:book[gwt:name=\"Alice's Contacts\"]/"
                                      "gwt:count").node().text().get());
  std::string folder = answer.select_node("gwm:folders/gwt:folder[gwt:name='Generated 00001']/"
                                          "gwt:id").node().text().get();
  std::string session = gwsim_test::LoginAlice(&client, url);
  pugi::xml_node items = gwsim_test::Call(
      &client, url, session, "getItemsRequest",
      "<m:getItemsRequest><container>" + folder + "</container></m:getItemsRequest>", &doc);
  std::string item = items.select_node("gwm:items/gwt:item/gwt:id").node().text().get();
  pugi::xml_node full = gwsim_test::Call(&client, url, session, "getItemRequest",
                                         "<m:getItemRequest><id>" + item + "</id></m:getItemRequest>",
                                         &doc).child("gwm:item");
  EXPECT_EQ("2 1000 1000", pugi::xpath_query("concat(count(//gwt:attachment), ' ', "
                                             "//gwt:attachment[1]/gwt:size, ' ', "
                                             "//gwt:attachment[2]/gwt:size)")
                               .evaluate_string(full));
  std::string attachment = full.select_node("//gwt:attachment[2]/gwt:id").node().text().get();
  pugi::xml_node piece = gwsim_test::Call(&client, url, session, "getAttachmentRequest",
                                          "<m:getAttachmentRequest><id>" + attachment +
                                              "</id><offset>0</offset><length>-1</length>"
                                              "</m:getAttachmentRequest>",
                                          &doc).child("gwm:part");
  EXPECT_STREQ("600", piece.attribute("length").value());
  // The client still holds its keep-alive connection; the program ends anyway.
  auto start = std::chrono::steady_clock::now();
  kill(pid, SIGTERM);
  int status = -1;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
