// Formatting and showing the progress of an export.
#include "host/progress/progress.h"

#include <unistd.h>

#include <cmath>

#include "platform/bounded_text.h"

namespace progress {

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || seconds > 360000.0 * 24) return "--:--";
  long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    FormatText(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    FormatText(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

double EstimateRemaining(const ProgressState &state) {
  if (state.folderTotal <= 0 || state.items <= 0 || state.seconds <= 0) return -1;
  int64_t left = state.folderTotal - state.folderDone;
  if (left <= 0) return 0;
  double rate = static_cast<double>(state.items) / state.seconds;
  return static_cast<double>(left) / rate;
}

std::string FormatRates(const ProgressState &state) {
  double items = state.seconds > 0 ? static_cast<double>(state.items) / state.seconds : 0;
  double mb = state.seconds > 0 ? static_cast<double>(state.bytes) / 1e6 / state.seconds : 0;
  char text[96];
  FormatText(text, sizeof text, "%.1f items/s, %.2f MB/s", items, mb);
  return text;
}

namespace {

std::string Count(const ProgressState &state) {
  std::string text = std::to_string(state.folderDone);
  if (state.folderTotal > 0) text += "/" + std::to_string(state.folderTotal);
  return text;
}

}  // namespace

std::string FormatProgressBar(const ProgressState &state, int barWidth) {
  std::string line;
  if (state.folderTotal > 0 && barWidth > 0) {
    double fraction = static_cast<double>(state.folderDone) / static_cast<double>(state.folderTotal);
    if (fraction > 1) fraction = 1;
    if (fraction < 0) fraction = 0;
    int filled = static_cast<int>(std::floor(fraction * barWidth));
    line = "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(barWidth - filled), '-') + "] ";
  }
  line += state.folder + " " + Count(state) + " " + FormatRates(state);
  double eta = EstimateRemaining(state);
  if (eta >= 0) line += " ETA " + FormatDuration(eta);
  return line;
}

std::string FormatProgressLine(const ProgressState &state) {
  std::string line = "progress: " + state.folder + " " + Count(state) + " items, " + FormatRates(state);
  double eta = EstimateRemaining(state);
  if (eta >= 0) line += ", ETA " + FormatDuration(eta);
  return line;
}

ProgressDisplay MakeProgressDisplay(FILE *out) {
  ProgressDisplay display;
  display.out = out;
  display.terminal = out != nullptr && isatty(fileno(out));
  return display;
}

void ShowProgress(ProgressDisplay *display, const ProgressState &state, bool force) {
  if (display->out == nullptr) return;
  double every = display->terminal ? display->redrawEvery : display->lineEvery;
  if (!force && state.seconds - display->lastShown < every) return;
  display->lastShown = state.seconds;
  if (display->terminal) {
    // "\r" and clear-to-end-of-line: the bar is redrawn in place.
    fprintf(display->out, "\r%s\033[K", FormatProgressBar(state, 24).c_str());
    display->barShown = true;
  } else {
    fprintf(display->out, "%s\n", FormatProgressLine(state).c_str());
  }
  fflush(display->out);
}

void ClearProgress(ProgressDisplay *display) {
  if (display->out == nullptr || !display->terminal || !display->barShown) return;
  fprintf(display->out, "\r\033[K");
  fflush(display->out);
  display->barShown = false;
}

}  // namespace progress
