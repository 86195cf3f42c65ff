// The import's read-ahead: the next items of a folder are converted on a
// second thread while the plug-in writes the current one and waits for the
// server. The plug-in stays on the main thread; a conversion only fills a
// record of its own and writes part files under its own msgSeq, so an
// interrupted or killed run is left as it was without the read-ahead.
//
// The thread stays a few items ahead (kAheadItems records, and no more
// than kAheadBytes of parts unless nothing is ahead): waking a thread costs
// about as much as the host's own work for a small message, so each side
// wakes the other only when it waits or, for the converter, when half the
// records are free again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/store/item_store.h"
#include "plugin/host_message.h"

namespace readahead {

enum : size_t {
  kAheadItems = 8,
};
enum : int64_t {
  kAheadBytes = 32 * 1024 * 1024,
};

// One conversion: what was converted and what it gave back.
struct Conversion {
  store::SourceItem *item = nullptr;  // its key set first (Identify) when it has none
  HostMessage *record = nullptr;
  std::string subject, reason;
  std::vector<std::string> warnings;
  int result = -1;
  // mvcom_IsImported for the item's key in the folder's scope, asked after
  // the conversion (-2: not asked, for an item without a key or a folder
  // without a scope).
  int imported = -2;
  int legacyImported = -2;  // the same for the item's key of older versions, if it has one
  // Ctrl-C had been pressed when the conversion ended: the run stops
  // before this item, as it would have without the read-ahead.
  bool interrupted = false;
  int64_t bytes = 0;  // its parts
};

// The folder being read: items [0, items->size()), converted in order into
// the ring's records.
struct Converter {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable toThread, toMain;
  bool stopping = false;
  // The folder:
  store::ImportSource *source = nullptr;
  std::vector<store::SourceItem> *items = nullptr;
  std::string scope;  // the state scope asked for each key; empty: not asked
  HostMessage *records[kAheadItems] = {};
  Conversion ring[kAheadItems];
  int32_t msgSeq = 0;
  size_t converted = 0;  // items whose conversion is done
  size_t released = 0;   // items the main thread is done with
  bool converting = false;  // the thread holds item `converted`
  bool ended = false;       // no more conversions for this folder
  int64_t aheadBytes = 0;   // parts of the items converted and not released
  bool threadWaits = false, mainWaits = false;
  std::vector<std::string> doomed;  // part files of written items, to delete
  ~Converter();
};

void StartConverter(Converter *converter);

// Starts reading a folder: its items, converted into records (kAheadItems
// of them, each given the next msgSeq after *msgSeq), each key looked up in
// scope (none when empty). Without a running thread each item is converted
// when Take asks for it.
void BeginFolder(Converter *converter, store::ImportSource *source, std::vector<store::SourceItem> *items,
                 const std::string &scope, HostMessage *const records[kAheadItems], int32_t msgSeq);

// Item i's conversion (i is the item after the one released last), once
// it is done; null when the folder's reading was ended (Ctrl-C).
Conversion *Take(Converter *converter, size_t i);

// The item taken last is done with: its record is free for another item,
// and its part files are deleted on the thread (before its next
// conversion) or, without a running thread, here and now. The names must
// not be used again (each conversion has its own msgSeq).
void Release(Converter *converter, std::vector<std::string> *paths);

// Ends the folder: the conversion in hand is waited for, the items
// converted ahead and not taken are let go (records emptied, part files
// deleted), and what was left to delete is deleted. Returns the last msgSeq
// given.
int32_t EndFolder(Converter *converter);

// Waits for the conversion in hand, then ends the thread.
void StopConverter(Converter *converter);

}  // namespace readahead
