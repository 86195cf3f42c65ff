// Header dates read the way mail readers read them.
#include "host/maildir/mail_date.h"

#include <cctype>
#include <vector>

#include "platform/bounded_text.h"

namespace maildir {
namespace {

struct ZoneName {
  const char *name;
  int minutes;  // east of UTC
};

// Zone names mail programs still write in place of a numeric offset.
const ZoneName kZoneNames[] = {
    {"UT", 0},          {"UTC", 0},         {"GMT", 0},         {"Z", 0},           {"EST", -5 * 60},
    {"EDT", -4 * 60},   {"CST", -6 * 60},   {"CDT", -5 * 60},   {"MST", -7 * 60},   {"MDT", -6 * 60},
    {"PST", -8 * 60},   {"PDT", -7 * 60},   {"AKST", -9 * 60},  {"AKDT", -8 * 60},  {"HST", -10 * 60},
    {"AST", -4 * 60},   {"ADT", -3 * 60},   {"NST", -210},      {"NDT", -150},      {"WET", 0},
    {"WEST", 60},       {"BST", 60},        {"CET", 60},        {"CEST", 120},      {"MET", 60},
    {"MEST", 120},      {"EET", 120},       {"EEST", 180},      {"MSK", 180},       {"IST", 330},
    {"JST", 9 * 60},    {"KST", 9 * 60},    {"AEST", 10 * 60},  {"AEDT", 11 * 60},  {"NZST", 12 * 60},
    {"NZDT", 13 * 60},
};

const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};
const char *const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

struct DateParts {
  int year = -1, month = -1, day = -1;
  int hour = -1, minute = -1, second = 0;
  int meridiem = 0;  // 1 AM, 2 PM, 0 none
  int zoneMinutes = 0;
  bool numericZone = false;  // a numeric offset wins over a zone name beside it
};

bool AllDigits(const std::string &s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

int Number(const std::string &s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// "AM"/"PM" (also "A.M."), any case: 1, 2; else 0.
int Meridiem(const std::string &s) {
  std::string letters;
  for (char c : s)
    if (c != '.') letters += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (letters == "am") return 1;
  if (letters == "pm") return 2;
  return 0;
}

// "h:mm[:ss]" with an AM/PM suffix allowed; false when it is no time.
bool ReadTime(std::string token, DateParts *d) {
  size_t letters = token.size();
  while (letters > 0 && (isalpha(static_cast<unsigned char>(token[letters - 1])) || token[letters - 1] == '.'))
    --letters;
  if (letters < token.size()) {
    d->meridiem = Meridiem(token.substr(letters));
    if (d->meridiem == 0) return false;
    token.resize(letters);
  }
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t colon; (colon = token.find(':', start)) != std::string::npos; start = colon + 1)
    fields.push_back(token.substr(start, colon - start));
  fields.push_back(token.substr(start));
  if (fields.size() < 2 || fields.size() > 3) return false;
  for (const std::string &f : fields)
    if (!AllDigits(f) || f.size() > 2) return false;
  d->hour = Number(fields[0]);
  d->minute = Number(fields[1]);
  d->second = fields.size() == 3 ? Number(fields[2]) : 0;
  return true;
}

bool ReadWord(const std::string &token, DateParts *d) {
  std::string lower;
  for (char c : token) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (lower.size() >= 3) {
    for (int m = 0; m < 12; ++m)
      if (lower.compare(0, 3, kMonths[m]) == 0) {
        d->month = m + 1;
        return true;
      }
    for (const char *day : kDays)
      if (lower.compare(0, 3, day) == 0) return true;
  }
  if (int m = Meridiem(token)) {
    d->meridiem = m;
    return true;
  }
  for (const ZoneName &z : kZoneNames)
    if (EqualsNoCase(token.c_str(), z.name)) {
      if (!d->numericZone) d->zoneMinutes = z.minutes;
      return true;
    }
  // Military zones are read as UTC: their signs were defined backwards.
  return token.size() == 1;
}

void ReadToken(const std::string &token, DateParts *d, bool *ok) {
  if (token.empty()) return;
  const char c = token[0];
  if ((c == '+' || c == '-') && token.size() == 5 && AllDigits(token.substr(1))) {
    const int hhmm = Number(token.substr(1));
    d->zoneMinutes = (hhmm / 100 * 60 + hhmm % 100) * (c == '-' ? -1 : 1);
    d->numericZone = true;
  } else if (token.find(':') != std::string::npos) {
    if (!ReadTime(token, d)) *ok = false;
  } else if (AllDigits(token)) {
    if (token.size() <= 2 && d->day < 0) {
      d->day = Number(token);
    } else if (d->year < 0 && token.size() <= 4) {
      d->year = Number(token);
      if (token.size() <= 2) d->year += d->year < 50 ? 2000 : 1900;
      else if (token.size() == 3) d->year += 1900;
    } else {
      *ok = false;
    }
  } else if (!ReadWord(token, d)) {
    *ok = false;
  }
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

int ParseMailDate(const std::string &text, int64_t *unixSeconds) {
  DateParts d;
  bool ok = true;
  std::string token;
  int comment = 0;
  for (size_t i = 0; i <= text.size() && ok; ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    if (c == '(') ++comment;
    const bool separator = comment > 0 || c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
    if (c == ')' && comment > 0) --comment;
    // A zone glued to the time ("15:00:00+0200") starts a token of its own.
    if (!separator && (c == '+' || c == '-') && !token.empty() && token.find(':') != std::string::npos) {
      ReadToken(token, &d, &ok);
      token.clear();
    }
    if (separator) {
      ReadToken(token, &d, &ok);
      token.clear();
    } else {
      token += c;
    }
  }
  if (!ok || d.year < 1601 || d.month < 1 || d.day < 1 || d.day > 31 || d.hour < 0 || d.minute > 59 ||
      d.second > 60)
    return -1;
  if (d.meridiem != 0) {
    if (d.hour < 1 || d.hour > 12) return -1;
    d.hour = d.hour % 12 + (d.meridiem == 2 ? 12 : 0);
  } else if (d.hour > 23) {
    return -1;
  }
  *unixSeconds = DaysFromCivil(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second -
                 static_cast<int64_t>(d.zoneMinutes) * 60;
  return 0;
}

int ReceivedDate(const std::string &value, int64_t *unixSeconds) {
  const size_t semicolon = value.rfind(';');
  if (semicolon == std::string::npos) return -1;
  return ParseMailDate(value.substr(semicolon + 1), unixSeconds);
}

}  // namespace maildir
