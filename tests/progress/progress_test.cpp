// Progress formatting: durations, rates, the estimate of the time left and
// the bar, all from states given by the test (no clock involved).
#include <gtest/gtest.h>

#include <cstdio>

#include "host/progress/progress.h"

namespace {

using progress::ProgressState;

ProgressState State(int64_t done, int64_t total, int64_t items, int64_t bytes, double seconds) {
  ProgressState s;
  s.folder = "Cabinet^Projects";
  s.folderDone = done;
  s.folderTotal = total;
  s.items = items;
  s.bytes = bytes;
  s.seconds = seconds;
  return s;
}

TEST(ProgressTest, Durations) {
  const struct {
    double seconds;
    const char *text, *why;
  } cases[] = {
      {0, "0:00", "nothing"},
      {7.4, "0:07", "rounded down"},
      {59.6, "1:00", "rounded up into the next minute"},
      {750, "12:30", "minutes and seconds"},
      {3723, "1:02:03", "hours appear past an hour"},
      {-1, "--:--", "unknown"},
      {1e12, "--:--", "absurd"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(progress::FormatDuration(c.seconds), c.text);
  }
}

TEST(ProgressTest, EstimateUsesTheRunsItemRate) {
  const struct {
    ProgressState state;
    double eta;
    const char *why;
  } cases[] = {
      {State(100, 400, 100, 0, 10), 30, "10 items/s, 300 left"},
      {State(10, 40, 210, 0, 21), 3, "the rate counts earlier folders too"},
      {State(40, 40, 50, 0, 5), 0, "folder done"},
      {State(45, 40, 50, 0, 5), 0, "more items than the count said"},
      {State(5, 0, 5, 0, 5), -1, "no total"},
      {State(0, 40, 0, 0, 5), -1, "nothing done yet"},
      {State(3, 40, 3, 0, 0), -1, "no time passed"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_DOUBLE_EQ(progress::EstimateRemaining(c.state), c.eta);
  }
}

TEST(ProgressTest, BarAndPlainLine) {
  const struct {
    ProgressState state;
    const char *bar, *line, *why;
  } cases[] = {
      {State(100, 400, 100, 25000000, 10),
       "[##--------] Cabinet^Projects 100/400 10.0 items/s, 2.50 MB/s ETA 0:30",
       "progress: Cabinet^Projects 100/400 items, 10.0 items/s, 2.50 MB/s, ETA 0:30", "a quarter done"},
      {State(7, 0, 7, 0, 2), "Cabinet^Projects 7 3.5 items/s, 0.00 MB/s",
       "progress: Cabinet^Projects 7 items, 3.5 items/s, 0.00 MB/s", "no total: no bar, no ETA"},
      {State(9, 8, 9, 0, 1), "[##########] Cabinet^Projects 9/8 9.0 items/s, 0.00 MB/s ETA 0:00",
       "progress: Cabinet^Projects 9/8 items, 9.0 items/s, 0.00 MB/s, ETA 0:00", "the bar never overflows"},
      {State(0, 5, 0, 0, 0), "[----------] Cabinet^Projects 0/5 0.0 items/s, 0.00 MB/s",
       "progress: Cabinet^Projects 0/5 items, 0.0 items/s, 0.00 MB/s", "at the start, rates are 0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(progress::FormatProgressBar(c.state, 10), c.bar);
    EXPECT_EQ(progress::FormatProgressLine(c.state), c.line);
  }
}

TEST(ProgressTest, PlainLinesAreSpacedOutUnlessForced) {
  FILE *out = tmpfile();
  ASSERT_NE(out, nullptr);
  progress::ProgressDisplay display = progress::MakeProgressDisplay(out);
  EXPECT_FALSE(display.terminal);
  const struct {
    double seconds;
    bool force;
  } calls[] = {{0, false}, {3, false}, {9.9, false}, {10, false}, {11, true}, {12, false}, {21, false}};
  for (const auto &c : calls) progress::ShowProgress(&display, State(1, 2, 1, 0, c.seconds), c.force);
  progress::ClearProgress(&display);  // nothing to clear on plain lines
  rewind(out);
  int lines = 0;
  for (int ch; (ch = fgetc(out)) != EOF;) lines += ch == '\n';
  fclose(out);
  EXPECT_EQ(lines, 4) << "at 0, 10, 11 (forced) and 21";
}

}  // namespace
