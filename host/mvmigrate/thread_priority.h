// The priority of mvmigrate's helper threads (the export's writer, the
// import's read-ahead and recorder).
#pragma once

#include <chrono>

// Lowers the calling thread's priority a little below the main thread's.
// The main thread carries the run: it waits for each answer and must send
// the next request the moment it can. A helper has slack (it works ahead of
// the main thread, or behind it, with a queue deep enough that the main
// thread seldom waits for it: with the export's old queue of four, a
// lowered writer made the export slower), but at the same priority a helper that is
// busy on a processor delays the wake-up of the main thread, or of a server
// on the same machine, by up to a scheduler slice. Not so far below that a
// loaded machine starves it: the main thread waits when a helper falls
// behind. A hint: where it cannot be set, nothing changes.
void LowerHelperThreadPriority();

// While work comes in, a helper looks for it on its own timer instead of
// being woken for each piece: waking a sleeping thread costs the main thread
// several microseconds between two requests (an interrupt to the other
// processor, dearer still in a virtual machine), about a small item's whole
// share of the host's work. After this many looks in a row find nothing (a
// slow server, a folder listing) the helper parks and is woken as before.
const std::chrono::microseconds kHelperLookInterval(200);
enum { kHelperEmptyLooks = 5 };
