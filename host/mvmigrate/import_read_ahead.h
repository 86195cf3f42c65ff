// The import's read-ahead: the next item of a folder is converted on a
// second thread while the plug-in writes the current one and waits for the
// server. The plug-in stays on the main thread; a conversion only fills a
// record of its own and writes part files under its own msgSeq, so an
// interrupted or killed run is left as it was without the read-ahead.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/store/item_store.h"
#include "plugin/host_message.h"

namespace readahead {

// One conversion: what Convert was given and what it gave back.
struct Conversion {
  store::ImportSource *source = nullptr;
  store::SourceItem *item = nullptr;  // its key set first (Identify) when it has none
  HostMessage *record = nullptr;  // msgSeq set by the caller
  std::string subject, reason;
  std::vector<std::string> warnings;
  int result = -1;
};

// The converting thread; one conversion at a time.
struct Converter {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  Conversion *next = nullptr;  // handed over, not yet done
  bool stopping = false;
  std::vector<std::string> doomed;  // part files of written items, to delete
  ~Converter();
};

void StartConverter(Converter *converter);

// Hands a conversion over (the previous one must have been taken with
// WaitFor). Without a running thread it is done here and now.
void Convert(Converter *converter, Conversion *conversion);

// Returns once the conversion handed over last is done.
void WaitFor(Converter *converter);

// Deletes the part files of a written item: on the thread, before its next
// conversion, so that the main thread goes on with the next request;
// without a running thread here and now. The names must not be used again
// (each conversion has its own msgSeq).
void DeleteLater(Converter *converter, std::vector<std::string> *paths);

// Deletes what DeleteLater left, here and now (after WaitFor).
void DeleteLeft(Converter *converter);

// Waits for the conversion in hand, then ends the thread.
void StopConverter(Converter *converter);

}  // namespace readahead
