// Pieces the folder and logon tests share: answers reshaped into response
// files as the transport writes them, a clean plug-in state between tests,
// and a simulator session to enumerate against.
#pragma once

#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "support/host_fixture.h"

namespace plugin_test {

// The test data file's text ("" when missing).
std::string TestData(const std::string &relativePath);

// Writes raw XML as the response writer reshapes it: one tag or text per line.
void ReshapeToFile(const std::string &rawXml, const std::string &path);

// Lines of a text file without their line ends.
std::vector<std::string> FileLines(const std::string &path);

// The request element inside a recorded envelope's soap:Body.
std::string RequestBody(const std::string &envelope);

// Recorded requests named requestName, in order.
std::vector<gwsim::RecordedRequest> RequestsNamed(const gwsim::Server &server,
                                                  const std::string &requestName);

// Empties every table, the run settings, the session and the transfer handle.
void ResetPluginState();

// Points the session's directories at the test host's.
void UseHostDirectories(const testing_support::TestHost &host);

// Starts the transfer and logs on to the simulator as user/password with a
// plain login, leaving the session id in the session. Returns false when the
// server refused.
bool SimulatorLogin(const gwsim::Server &server, const std::string &user,
                    const std::string &password);

// A readCursorResponse (or any answer) body with the given inner XML.
std::string Answer(const std::string &response, const std::string &inner);

}  // namespace plugin_test
