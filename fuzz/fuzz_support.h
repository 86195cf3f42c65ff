// What every fuzz target shares: the input cut into the server's answers, a
// host (MVCOM) in a temporary directory made once per process, the plug-in's
// and the host's process-wide records put back before each run, and the
// in-process server that answers the plug-in's requests from the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct HostMessage;

namespace store {
class ImportSource;
}

namespace fuzz {

// Between two answers of one input. Four "=" never occur in base64 or in
// the answers the simulator gives, so seeds stay readable.
extern const char kAnswerSeparator[];

// One run's input: the first byte chooses how the run goes (chunk length of
// the response writer, switches a target turns on); the rest is a list of
// answers, the first for the request the target starts with and the others,
// in turn, for every further request the plug-in makes. Once they are used
// up the server is gone: every later request fails its transfer.
struct Input {
  uint8_t control = 0;
  std::vector<std::string> answers;
};

Input SplitInput(const uint8_t *data, size_t size);

// The length of the pieces the response writer gets, from the control byte:
// one byte, a few bytes, a typical network read, or the whole answer at once.
size_t ChunkLength(uint8_t control);

// Starts a run: makes the temporary directory and sets MVCOM up on it (state
// in memory) on the first call, and again when freshState is set (a target
// whose parser records into the migration state, so that no run sees an
// earlier one's records); empties data/, work/ and the import tree; resets
// the plug-in's tables, run settings (a target sets its switches in
// gRunSettings after this) and session; queues input.answers from the one
// numbered `firstServed` for the in-process server. Every target calls it
// first in each run.
void BeginRun(const Input &input, size_t firstServed, int freshState);

// Ends a run: frees the plug-in's tables (a target frees its own records).
void EndRun();

// A fresh record as the host hands one over (msgSeq 7, lists empty).
HostMessage *NewRecord();
// Frees the record's lists and part files, then the record.
void FreeRecord(HostMessage *record);

// Fetches one item as the readers do (getItemRequest through SoapCall, the
// answer left at path). Returns FetchItemAnswer's result.
int FetchItem(const char *path);

// Aborts when the record breaks its own bounds: counts out of range, a list
// entry missing, a text field or a part or recipient text without its end
// within its field (an overrun AddressSanitizer cannot see inside a struct),
// a part whose file in the work directory is missing or of another size.
void CheckRecord(const HostMessage *record);

// Reads every item of every folder the source finds as the import loop
// does (folders, their items, each converted into a record, checked), then
// writes each record as the import does (InitWrite for its class, WriteMsg;
// the server is gone, so the create fails after it is posted) and holds the
// request to be well-formed XML with one item and, for mail, the record's
// subject as its subject. The file to read is laid out below ImportDir() by
// the target.
void ImportAll(store::ImportSource *source);

// The directory an import target lays its tree out in (emptied each run,
// ends with "/"), and a file written there, parents made.
const std::string &ImportDir();
void WriteImportFile(const std::string &relativePath, const std::string &bytes);

// Writes answer as the response writer stores it, in pieces of `chunk`
// bytes, into the work directory under name. Returns the path ("" when the
// file cannot be made).
std::string WriteReshaped(const std::string &answer, size_t chunk, const char *name);

// Writes bytes as they are into the work directory under name; the path.
std::string WriteWorkFile(const char *name, const std::string &bytes);

// One file in the temporary directory, opened once, emptied and rewound at
// each call: for a target that only needs somewhere to write (a new file
// per run would cost more than the run).
FILE *ScratchFile();

// ChunkLength of this run's control byte.
size_t RunChunkLength();

// The run's directories, each ending with "/".
const std::string &WorkDir();
const std::string &DataDir();

// The body of the last request posted (the whole SOAP envelope).
std::string *LastRequest();

// The folder table a write needs: the root, a Mailbox and a Cabinet, a
// calendar, a task list and an address book.
void AddWriteTargets();

// The in-process server's answers, for fuzz_transfer.cpp: the next one and
// its HTTP status (200, or NNN when the answer begins with "HTTP NNN" and a
// line end, which is then taken off), or 0 when none is left.
int NextAnswer(std::string *answer, int *httpStatus);

}  // namespace fuzz
