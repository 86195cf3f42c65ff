// The priority of mvmigrate's helper threads (the export's writer, the
// import's read-ahead and recorder).
#pragma once

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
