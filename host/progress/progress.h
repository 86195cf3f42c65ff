// The progress display of an export: on a terminal one bar redrawn in place
// (folder, done/total, items/s, MB/s, ETA), otherwise a plain line now and
// then. Times are passed in by the caller (seconds since the run started),
// so the formatting is independent of the clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace progress {

// Where the run stands.
struct ProgressState {
  std::string folder;     // "^"-joined path of the folder being read
  int64_t folderDone = 0;   // items of this folder handled (any outcome)
  int64_t folderTotal = 0;  // items the folder holds; 0 or less: unknown
  int64_t items = 0;        // items handled in the whole run
  int64_t bytes = 0;        // bytes written in the whole run
  double seconds = 0;       // since the run started
};

// "0:07", "12:30", "1:02:03"; "--:--" for a negative or absurd time.
std::string FormatDuration(double seconds);

// Seconds left for the folder at the run's item rate; -1 when unknown (no
// total, nothing done yet, or no time passed).
double EstimateRemaining(const ProgressState &state);

// "12.5 items/s, 3.40 MB/s" (MB = 10^6 bytes); rates 0 before any time passed.
std::string FormatRates(const ProgressState &state);

// The terminal line: "[#####-----] Mailbox 120/400 12.5 items/s, 3.40 MB/s ETA 0:22",
// the bar `barWidth` characters wide; without a total the bar and the ETA
// are left out and only the count is shown.
std::string FormatProgressBar(const ProgressState &state, int barWidth);

// The plain line: "progress: Mailbox 120/400 items, 12.5 items/s, 3.40 MB/s, ETA 0:22".
std::string FormatProgressLine(const ProgressState &state);

// A display on a stream. Plain data; nothing to close.
struct ProgressDisplay {
  FILE *out = nullptr;
  bool terminal = false;      // redraw a bar in place, else plain lines
  double redrawEvery = 0.2;   // seconds between bar redraws
  double lineEvery = 10.0;    // seconds between plain lines
  double lastShown = -1e9;
  bool barShown = false;      // a bar is on the screen (to be cleared)
};

// A display on out; a bar when out is a terminal.
ProgressDisplay MakeProgressDisplay(FILE *out);

// Shows the state when enough time has passed since the last showing, or
// always when force is set. Cannot fail; write errors are ignored.
void ShowProgress(ProgressDisplay *display, const ProgressState &state, bool force);

// Clears a bar from the terminal so that other output starts on a clean
// line. Nothing for plain lines.
void ClearProgress(ProgressDisplay *display);

}  // namespace progress
