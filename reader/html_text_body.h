// The text body of an item that came with an HTML body only: the HTML part
// copied and turned into plain text as a further part.
#pragma once

struct HostMessage;

// When the record has no text-body part (kind 1), copies the first HTML
// body part (kind 9) that converts cleanly into the next part file, turns
// the copy into plain text and adds it as "Message.txt" of kind 1. Returns
// 1 when a part was added; 0 when none was needed or none could be made
// (every failed copy is deleted, the record is unchanged).
int AddTextBodyFromHtml(HostMessage *record);
