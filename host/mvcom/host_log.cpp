// The host's log: timestamped lines appended to mvmigrate.log in the data
// directory, mirrored to stderr by level and handed to the log sink.
#include <ctime>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>
#if !defined(_WIN32)
#include <mutex>
#endif

#include "host/mvcom/mvcom_state.h"
#include "platform/bounded_text.h"

// Whether a line goes to stderr at the configured level.
static int ShowOnStderr(const char *line) {
  if (gMvcom.stderrLevel >= 3) return 1;
  if (gMvcom.stderrLevel == 2)
    return !StartsWith(line, "debug:") && !StartsWith(line, "curl debug:");
  if (gMvcom.stderrLevel == 1 && strstr(line, "MV Warning:") != nullptr) return 1;
  return strstr(line, "MV Error:") != nullptr;
}

const char *CurrentSecondText(SecondText *cache, bool utc, const char *fallback) {
  const time_t now = time(nullptr);
  if (now == cache->madeFor) return cache->text;
  struct tm parts;
#if defined(_WIN32)
  const bool converted = (utc ? gmtime_s(&parts, &now) : localtime_s(&parts, &now)) == 0;
#else
  const bool converted = (utc ? gmtime_r(&now, &parts) : localtime_r(&now, &parts)) != nullptr;
#endif
  if (!converted || strftime(cache->text, sizeof cache->text, "%Y-%m-%d %H:%M:%S", &parts) == 0)
    CopyText(cache->text, sizeof cache->text, fallback);
  cache->madeFor = now;
  return cache->text;
}

// The log's stamp: a migration logs a line for every request, thousands a
// second. Called under the log's lock.
static const char *CurrentStamp(void) {
  static SecondText stamp;
  return CurrentSecondText(&stamp, false, "0000-00-00 00:00:00");
}

#if !defined(_WIN32)
// mvmigrate's second threads (the export's writer, the import's read-ahead)
// log too: one line at a time, the sink included. The Windows host has one
// thread.
static std::mutex gLogMutex;
#endif

void WriteLogLine(const char *line) {
#if !defined(_WIN32)
  std::lock_guard<std::mutex> lock(gLogMutex);
#endif
  if (gMvcom.logFile != nullptr) {
    // Each line reaches the file when it is logged (one write): the lines
    // before a crash or a kill are the ones that tell what happened.
    fputs(CurrentStamp(), gMvcom.logFile);
    fputc(' ', gMvcom.logFile);
    fputs(line, gMvcom.logFile);
    fputc('\n', gMvcom.logFile);
    fflush(gMvcom.logFile);
  }
  if (ShowOnStderr(line)) fprintf(stderr, "%s\n", line);
  if (gMvcom.logSink != nullptr) gMvcom.logSink(line, gMvcom.logSinkUser);
}

void com_Log(const char *format, ...) {
  if (format == nullptr) return;
  // Most lines fit the first buffer; a longer one is formatted again into
  // one of its size.
  char first[1024];
  std::vector<char> longer;
  char *text = first;
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  int needed = vsnprintf(first, sizeof first, format, ap);
  va_end(ap);
  if (needed >= static_cast<int>(sizeof first)) {
    longer.resize(static_cast<size_t>(needed) + 1);
    text = longer.data();
    FormatTextV(text, longer.size(), format, again);
  }
  va_end(again);
  if (needed < 0) {
    WriteLogLine("MV Error: unprintable log line");
    return;
  }
  // One line end belongs to the line; the log adds its own.
  size_t len = strlen(text);
  if (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
  if (len > 0 && text[len - 1] == '\r') text[--len] = '\0';
  WriteLogLine(text);
}

void com_SetExtendedError(int code, int zero, const char *text) {
  (void)zero;
  gMvcom.extendedCode = code;
  CopyText(gMvcom.extendedText, sizeof gMvcom.extendedText, text);
  // The plug-in names each calendar it has read with the folder code and no
  // reason ("<folder>\t<reason>" is a failure): a notice, not an error.
  // The other notices the plug-in has logged in its own words.
  const bool notice = code == kExtNoticeFolderShortened || code == kExtNoticeAttachmentLost ||
                      code == kExtNoticeItemInDoubt || code == kExtNoticeMemberLeftOut ||
                      code == kExtNoticeCategoriesUnknown || code == kExtNoticeMemberMayBeTwice;
  if (code == 109 && strchr(gMvcom.extendedText, '\t') == nullptr)
    com_Log("MV Info: folder %s read", gMvcom.extendedText);
  else if (!notice)
    com_Log("MV Error: extended error %d: %s", code, gMvcom.extendedText);
  if (gMvcom.extendedSink != nullptr)
    gMvcom.extendedSink(code, text ? text : "", gMvcom.extendedSinkUser);
}
