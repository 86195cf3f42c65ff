// The one getItemRequest by which every folder reader fetches an item: the
// request, the debug copy and the warnings, worded by a row per item kind.
#pragma once

#include <cstddef>
#include <cstdint>

struct RunSettings;

// What names the item in a fetch warning.
enum ItemLabel {
  kLabelPosition,  // the number the reader passes
  kLabelLastCopy,  // the debug-copy counter less one
  kLabelId,        // the item's id
};

// How one kind of item is fetched and spoken of.
struct ItemFetchKind {
  const char *view;  // the request's view list; null: a request without one
  // The switches that make a debug copy of the answer; the second may be null.
  int32_t RunSettings::*debugSwitch[2];
  const char *copyPrefix;  // the copy is "<prefix><gItemCopyCounter>.xml"
  const char *copyWhat;    // "debug: copied <copyWhat> response to %s"
  const char *noun;        // "MV Warning: failed to retrieve <noun> <label>, ..."
  ItemLabel httpLabel;     // names the item when the HTTP status is not 200
  ItemLabel codeLabel;     // names it when the server refused it (gwt:code)
};

// Fetches the item id into responsePath as kind says; position is its
// kLabelPosition number. Returns 1 when the server gave the item; otherwise
// logs the warning, writes "getItemRequest failed, httpResponse=%d",
// "getItemRequest failed, <why the answer is unusable>" or
// "getItemRequest failed, code=%d" into reason (cap bytes) and returns 0.
int FetchItemAnswer(const ItemFetchKind &kind, const char *id, int position,
                    const char *responsePath, char *reason, size_t cap);
