// The user's excluded subjects: extended regular expressions, compiled once
// in mvcom_Init and matched without regard to case.
#include "host/mvcom/mvcom_state.h"
#include "platform/bounded_text.h"

#if defined(_WIN32)

int CompileSubjectFilter(const char *const *patterns, int count) {
  ReleaseSubjectFilter();
  for (int i = 0; patterns != nullptr && i < count; ++i) {
    if (patterns[i] == nullptr) continue;
    // std::regex reports a bad expression by throwing; nothing throws past here.
    try {
      gMvcom.excludeRegexes.emplace_back(
          patterns[i], std::regex::extended | std::regex::icase | std::regex::nosubs);
    } catch (const std::regex_error &e) {
      SetInitError("invalid excluded subject expression \"%s\": %s", patterns[i], e.what());
      ReleaseSubjectFilter();
      return -1;
    }
  }
  return 0;
}

void ReleaseSubjectFilter(void) { gMvcom.excludeRegexes.clear(); }

int com_ExcludeSubject(const char *text) {
  if (text == nullptr) return 0;
  // A subject too complex for the matcher throws; it then counts as not excluded.
  try {
    for (const std::regex &re : gMvcom.excludeRegexes)
      if (std::regex_search(text, re)) return 1;
  } catch (const std::regex_error &) {
  }
  return 0;
}

#else  // POSIX

int CompileSubjectFilter(const char *const *patterns, int count) {
  ReleaseSubjectFilter();
  for (int i = 0; patterns != nullptr && i < count; ++i) {
    if (patterns[i] == nullptr) continue;
    regex_t re;
    int rc = regcomp(&re, patterns[i], REG_EXTENDED | REG_ICASE | REG_NOSUB);
    if (rc != 0) {
      char why[256];
      regerror(rc, &re, why, sizeof why);
      SetInitError("invalid excluded subject expression \"%s\": %s", patterns[i], why);
      ReleaseSubjectFilter();
      return -1;
    }
    gMvcom.excludeRegexes.push_back(re);
  }
  return 0;
}

void ReleaseSubjectFilter(void) {
  for (regex_t &re : gMvcom.excludeRegexes) regfree(&re);
  gMvcom.excludeRegexes.clear();
}

int com_ExcludeSubject(const char *text) {
  if (text == nullptr) return 0;
  for (const regex_t &re : gMvcom.excludeRegexes)
    if (regexec(&re, text, 0, nullptr, 0) == 0) return 1;
  return 0;
}

#endif  // _WIN32
