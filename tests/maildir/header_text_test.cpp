// Header texts and dates as mail programs write them: encoded words decoded
// one by one, address lists made safe for the address parser, parameters
// read from raw values, dates in the forms readers still accept.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/maildir/header_text.h"
#include "host/maildir/mail_date.h"

namespace {

TEST(HeaderTextTest, EncodedWordsAreDecodedOneByOne) {
  struct TextCase {
    const char *raw, *expected, *why;
  };
  const TextCase kCases[] = {
      {"=?UTF-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4g4oCTIA==?= =?UTF-8?B?w5xiZXJzaWNodCBmw7xyIDIwMjY=?=",
       "Grüße aus München – Übersicht für 2026", "padding in the first of two base64 words"},
      {"=?UTF-8?B?S8M=?= =?UTF-8?B?tmxu?=", "Köln", "a character split across two words joins"},
      {"=?utf-8?q?K=C3?=\t =?UTF-8?Q?=B6ln?=", "Köln", "split in Q words, charset names in other case"},
      {"=?ISO-8859-1?Q?Caf=E9_cr=E8me?=", "Café crème", "Q: underscore is a space, Latin-1 to UTF-8"},
      {"Re: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= und mehr", "Re: Grüße und mehr", "space beside plain text stays"},
      {"=?UTF-8?Q?a?= =?ISO-8859-1?Q?=E9?=", "aé", "space between words of two charsets is dropped too"},
      {"=?UTF-8*de?Q?Stra=C3=9Fe?=", "Straße", "a language after the charset"},
      {"=?UTF-8?B?bm90IGJhc2U2NA?=", "not base64", "base64 without its padding"},
      {"=?x-unknown?Q?=C3=A9?=", "é", "unknown charset: UTF-8 is kept"},
      {"=?x-unknown?Q?caf=E9?=", "café", "unknown charset, no UTF-8: Windows-1252"},
      {"=?utf-8?Q?caf=E9?=", "café", "Latin-1 labelled UTF-8 loses no byte"},
      {"Caf\xe9 \x80", "Café €", "raw 8-bit text that is no UTF-8 is Windows-1252"},
      {"=?UTF-8?X?abc?= and =?UTF-8?B?abc", "=?UTF-8?X?abc?= and =?UTF-8?B?abc", "malformed words stay"},
      {"=?UTF-8?Q?a b?=", "=?UTF-8?Q?a b?=", "a word cannot hold a space"},
      {"=?UTF-8?Q?end?=  ", "end  ", "space after the last word stays"},
  };
  for (const TextCase &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::DecodeHeaderText(c.raw), c.expected);
  }
}

TEST(HeaderTextTest, FoldedValuesBecomeOneLine) {
  struct FoldCase {
    const char *raw, *expected, *why;
  };
  const FoldCase kCases[] = {
      {" \"Brandeburg,\r\n\tJesse\" <j@x>\r\n", "\"Brandeburg, Jesse\" <j@x>", "CRLF and tab inside quotes"},
      {" one\n two\n", "one two", "LF folding keeps the space of the next line"},
      {"a\rb", "ab", "a stray CR is a line break"},
  };
  for (const FoldCase &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::OneLine(maildir::UnfoldHeader(c.raw)), c.expected);
  }
}

TEST(HeaderTextTest, AddressListsKeepTheirStructure) {
  struct AddressCase {
    const char *raw, *expected, *why;
  };
  const AddressCase kCases[] = {
      {"=?UTF-8?B?TGVlLCBCZW4=?= <ben@x>", "\"Lee, Ben\" <ben@x>", "a decoded comma stays inside the name"},
      {"\"Carl =?UTF-8?Q?M=C3=BCller?=\" <c@x>", "\"Carl Müller\" <c@x>", "a word inside quotes"},
      {"=?UTF-8?Q?say_=22hi=22?= <a@x>", "\"say \\\"hi\\\"\" <a@x>", "quotes in the decoded name are escaped"},
      {"a@x (=?UTF-8?Q?x?=), <=?b@y>", "a@x (=?UTF-8?Q?x?=), <=?b@y>", "comments and addresses untouched"},
      {"=?UTF-8?Q?J=C3=B6rg?= =?UTF-8?Q?_M=C3=BCller?= <j@x>, b@y", "\"Jörg Müller\" <j@x>, b@y",
       "a run of words becomes one quoted name"},
  };
  for (const AddressCase &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::DecodeAddressWords(c.raw), c.expected);
  }
}

TEST(HeaderTextTest, NameOfASenderWithAnEmptyAddress) {
  struct NameCase {
    const char *raw, *expected, *why;
  };
  const NameCase kCases[] = {
      {"MAILER DAEMON <>", "MAILER DAEMON", "a bounce"},
      {"\"Mail Delivery System\" < >", "Mail Delivery System", "quoted, a space inside the brackets"},
      {"=?UTF-8?Q?Postmaster_=C3=85?= <>", "Postmaster Å", "an encoded name"},
      {"<>", "", "no name at all"},
      {"Anna <anna@example.com>", "", "an address: not this case"},
      {"Team: ;", "", "an empty group"},
      {"a@example.com, Bob <>", "", "only a first mailbox counts"},
  };
  for (const NameCase &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::EmptyAddressName(c.raw), c.expected);
  }
}

TEST(HeaderTextTest, PlainParametersFromRawValues) {
  struct ParameterCase {
    const char *value, *name;
    bool found;
    const char *expected, *why;
  };
  const ParameterCase kCases[] = {
      {"attachment; filename=\"a b.pdf\"", "filename", true, "a b.pdf", "quoted"},
      {"application/pdf; name==?utf-8?B?eA==?=", "name", true, "=?utf-8?B?eA==?=", "an unquoted word"},
      {"text/plain; charset=\"a;b\"; NAME=x", "name", true, "x", "a semicolon inside an earlier value"},
      {"attachment; filename=\"x\\\"y\"; size=3", "filename", true, "x\"y", "an escaped quote"},
      {"attachment; filename*=UTF-8''x.pdf", "filename", false, "", "only the RFC 2231 form"},
      {"inline", "filename", false, "", "no parameter at all"},
      {"attachment; filename", "filename", false, "", "a name without a value"},
  };
  for (const ParameterCase &c : kCases) {
    SCOPED_TRACE(c.why);
    std::string out;
    EXPECT_EQ(maildir::PlainParameter(c.value, c.name, &out), c.found);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(HeaderTextTest, ExtendedParametersAreSeen) {
  struct ExtendedCase {
    const char *value;
    bool expected;
    const char *why;
  };
  const ExtendedCase kCases[] = {
      {"attachment; filename*=UTF-8''a.pdf", true, "one piece"},
      {"attachment;\tFILENAME*0*=UTF-8''a; filename*1=b.pdf", true, "continued, any case"},
      {"attachment; filename=\"a*.pdf\"", false, "a star in a plain value"},
      {"attachment; xfilename*=UTF-8''a.pdf", false, "another parameter's name"},
  };
  for (const ExtendedCase &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::HasExtendedParameter(c.value, "filename"), c.expected);
  }
}

TEST(MailDateTest, DatesAsReadersReadThem) {
  // 2020-01-06 19:15:00 UTC.
  const int64_t kWhen = 1578338100;
  struct DateCase {
    const char *text;
    int64_t expected;
    const char *why;
  };
  const DateCase kCases[] = {
      {"Mon, 6 Jan 2020 15:15:00 -0400", kWhen, "RFC 5322"},
      {"Mon, 6 Jan 2020 3:15:00 PM EDT", kWhen, "12-hour clock and a zone name"},
      {"6 Jan 2020 3:15 pm edt", kWhen, "no day name, no seconds, lower case"},
      {"Mon, 6 Jan 2020 11:15:00 PST", kWhen, "Pacific"},
      {"Mon, 6 Jan 2020 20:15:00 CET", kWhen, "a European zone name"},
      {"Tue, 7 Jan 2020 01:15:00+0600", kWhen, "offset glued to the time"},
      {"Mon, 6 Jan 2020 19:15:00 +0000 (UTC)", kWhen, "a comment after the zone"},
      {"Mon, 6 Jan 2020 20:15:00 +0100 GMT", kWhen, "the offset wins over a name beside it"},
      {"Mon, 6 Jan 2020 19:15:00", kWhen, "no zone is UTC"},
      {"Mon, 6 Jan 2020 19:15:00 Z", kWhen, "a military zone is UTC"},
      {"Mon, 6 Jan 20 19:15:00 GMT", kWhen, "two-digit year"},
      {"Mon Jan  6 19:15:00 2020", kWhen, "asctime order"},
      {"Mon, 06 Jan 2020 12:00:00 AM UT", 1578268800, "12 AM is midnight"},
      {"Mon, 06 Jan 2020 12:30:00 PM UT", 1578313800, "12 PM is noon"},
      {"Fri, 31 Dec 1999 23:59:60 +0000", 946684800, "a leap second"},
  };
  for (const DateCase &c : kCases) {
    SCOPED_TRACE(c.why);
    int64_t got = 0;
    ASSERT_EQ(maildir::ParseMailDate(c.text, &got), 0) << c.text;
    EXPECT_EQ(got, c.expected);
  }
  const char *const kRejected[] = {
      "not a date at all",                   // no part of a date
      "Mon, 6 Jan 2020",                     // no time
      "Mon, 32 Jan 2020 10:00:00 +0000",     // no such day
      "Mon, 6 Jan 2020 13:00:00 PM",         // 13 on a 12-hour clock
      "Mon, 6 Jan 2020 24:00:00 +0000",      // no such hour
      "Mon, 6 Jan 2020 10:00:00 Foo",        // a word no reader knows
      "",                                    // nothing
  };
  for (const char *text : kRejected) {
    SCOPED_TRACE(text);
    int64_t got = 7;
    EXPECT_EQ(maildir::ParseMailDate(text, &got), -1);
    EXPECT_EQ(got, 7);
  }
  int64_t got = 0;
  ASSERT_EQ(maildir::ReceivedDate("from a by b with SMTP id x;\tSat, 4 Jan 2025 09:00:05 -0800 (PST)", &got), 0);
  EXPECT_EQ(got, 1736010005);
  EXPECT_EQ(maildir::ReceivedDate("from a by b with SMTP id x", &got), -1);
}

}  // namespace
