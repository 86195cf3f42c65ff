// The host library MVCOM as the plug-in sees it: logging, host parameters
// and globals, text and file chores, dates, and the HostMessage list
// functions. All are C functions exported by libMVCOM; the plug-in links
// against it as it links against the real host's library.
#pragma once

#include "platform/printf_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_compat.h"

#if defined(_WIN32)
#ifdef MVCOM_BUILDING
#define MVCOM_API __declspec(dllexport)
#else
#define MVCOM_API __declspec(dllimport)
#endif
#else
#define MVCOM_API __attribute__((visibility("default")))
#endif

struct HostMessage;

// Host global ids for com_GetGlobal / com_SetGlobal.
enum {
  kGlobalProgramDir = 1,
  kGlobalDataDir = 2,
  kGlobalWorkDir = 6,
  kGlobalLineBuffer = 12,  // set: value 1 and the plug-in's shared line buffer
  kGlobalFailedCount = 13, // set: the number of failed items at logoff
};

// Kinds for com_MsgIsDuplicate.
enum {
  kDupRule = 100,       // mail rule by name (folder text is the rule name)
  kDupAsk = 101,        // already migrated?
  kDupRecord = 102,     // record as migrated now
};

extern "C" {

// printf-style line to the host's log; a line end is added when missing.
MVCOM_API void com_Log(const char *format, ...) MV_PRINTF_FORMAT(1, 2);

// Codes of com_SetExtendedError.
enum {
  kExtErrorHttpStart = 101,   // the HTTP library could not start
  // Folder conversion: a folder not converted, or whose item list the server
  // would not give whole; the text is "<folder>\t<reason>" for the latter.
  kExtErrorFolder = 109,
  // One item could not be read or written: the host counts it as failed,
  // lists it in its report and ends with a non-zero exit code. The text is
  // "<GroupWise item id>\t<subject>\t<reason>" (the id empty on the write
  // side and when unknown). A skipped item (excluded subject, a further
  // occurrence of a series) is not reported this way.
  kExtErrorItemFailed = 120,
  // Notices, not failures (the host lists them; nothing failed):
  // a folder name too long to keep whole was shortened; the text is
  // "<name as kept>\t<whole name>".
  kExtNoticeFolderShortened = 130,
  // An attachment of the item being read could not be read from the server
  // and the item goes to SaveItem with a text part in its place; the text
  // is "<attachment name>\t<reason>". Sent before that SaveItem.
  kExtNoticeAttachmentLost = 131,
  // The create of the item being written broke off after the server may
  // have had the whole request: the item is also reported failed (120), but
  // the server may hold it. A host that keeps a journal can ask the server
  // before writing it again. The text is the item's name. Sent before the
  // failure.
  kExtNoticeItemInDoubt = 132,
  // A group member whose contact could not be created is left out of the
  // group, which is created without it: the group is not failed (written
  // again, it would be there twice). The text is "<member>\t<reason>".
  kExtNoticeMemberLeftOut = 133,
  // The logon could not read the mailbox's category list (asked twice) and
  // goes on without it: the items of the session are read without their
  // categories. The text says so.
  kExtNoticeCategoriesUnknown = 134,
  // The create of a group member broke off after the server may have had
  // the whole request, and the member was asked for again so that the group
  // lists it: the server may now hold that member's contact twice. The text
  // is "<member>\t<reason>".
  kExtNoticeMemberMayBeTwice = 135,
};

// Records an error for the host (see the codes above).
MVCOM_API void com_SetExtendedError(int code, int zero, const char *text);

// Copies the index-th host parameter (0-based) into buf (1024 bytes).
// Returns non-zero when there is one, 0 past the last.
MVCOM_API int com_GetParm(int index, char *buf);

// Copies host global `id` into buf (at least 256 bytes); directories end with
// "/". Returns non-zero when the id is known, 0 (and "") otherwise.
MVCOM_API int com_GetGlobal(int id, char *buf);

// Sets host global `id`. 12 takes value 1 and the line buffer; 13 takes the
// failed-item count. Returns non-zero when the id is known.
MVCOM_API int com_SetGlobal(int id, int value, const char *text);

// Copies at most n characters of src into dst, always terminated: dst must
// hold n + 1 bytes. Returns dst.
MVCOM_API char *com_strncpy(char *dst, const char *src, int n);

// In-place text chores; each returns its argument.
MVCOM_API char *com_rtrim(char *text);          // trailing blanks, tabs, CR, LF
MVCOM_API char *com_ltrim(char *text);          // leading blanks and tabs
MVCOM_API char *com_Remove_Quotes(char *text);  // one pair of surrounding double quotes
MVCOM_API char *com_LineTerminate(char *text);  // cuts at the first CR or LF

// Replaces & < > " ' by their XML entities, in place. capacity is the size of
// the text's buffer: an escaped text that does not fit is cut before the
// entity that would overflow (never in the middle of one). mode is 1.
// Returns 0 when the whole text fit, 1 when it was cut.
MVCOM_API int com_Escape(char *text, int mode, size_t capacity);

// Decodes the five XML entities and decimal/hex character references (as
// UTF-8), in place; a malformed reference is left as it is. Returns text.
MVCOM_API char *com_Unescape(char *text);

// Decodes a base64 text in place (blanks and line ends ignored; stops at the
// first character outside the alphabet). Returns the decoded length; the
// result is terminated.
MVCOM_API int com_Decode_MimeLine(char *text);

// Converts text from code page `from` to code page `to` in place (28591
// ISO-8859-1, 1252 Windows-1252, 65001 UTF-8, 20127 ASCII). capacity is the
// buffer size; a result that does not fit is cut on a character boundary.
// Returns 0 on success, -1 for an unknown code page (text unchanged).
MVCOM_API int com_CodepageToWindows(char *text, int from, int to, size_t capacity);

// Makes text a valid file name in place: \ / : * ? " < > | and control
// characters become "_", trailing dots and blanks are removed, an empty
// result becomes "_". mode is 0. Returns text.
MVCOM_API char *com_MakeValidDosName(char *text, int mode);

// Copies a file (or a part kept in memory). Returns 0 on success, -1 on failure (destination then absent
// or incomplete).
MVCOM_API int com_fcopy(const char *source, const char *destination);

// Size of a file (or of a part kept in memory) into *size. Returns 0 on
// success, -1 when it cannot be read.
MVCOM_API int com_GetFileSize(const char *path, int64_t *size);

// First occurrence of pattern in text (mode 0 case-sensitive, 1 ignoring
// case), or null. The host's ordinal 35.
MVCOM_API const char *com_FindText(const char *text, const char *pattern, int mode);

// The date as display text for log lines, "ddd, dd MMM yyyy HH:MM:SS" (UTC)
// into out (at least 64 bytes); "(none)" for a null date. The host's ordinal 43.
MVCOM_API char *com_DateText(FILETIME date, char *out);

// Scrambles (mode 1) or unscrambles (mode 2) text in place; the length is kept.
MVCOM_API void _encrypt2(int mode, char *text);

// The user's date range; a null date (0) means no bound. kind is 0.
// Returns 0.
MVCOM_API int com_GetDateRange(int kind, FILETIME *from, FILETIME *to);
MVCOM_API int com_DateIsNull(FILETIME date);
// (a - b) in whole minutes, either sign.
MVCOM_API int com_FTDifference(FILETIME a, FILETIME b);

// Non-zero when text matches a subject the user excluded.
MVCOM_API int com_ExcludeSubject(const char *text);

// Migration state. kind 101: non-zero when the item (key: folderName and the
// item's messageId, else a hash of its identifying fields) was migrated
// before; 102: records it as migrated now (non-zero when it was recorded
// already); 100: the same for the mail rule named by the record's subject
// under folderName ("MailRules"), or by folderName alone when subject is
// empty: non-zero when exported before, else records it and returns 0.
// Without an open state every answer is 0. context is not read.
MVCOM_API int com_MsgIsDuplicate(HostMessage *record, void *context, int kind,
                                 const char *folderName);

// Non-zero when the item is wanted (found); 0 when the host was told to take
// only certain items and this is not one of them.
MVCOM_API int com_SearchMsg(HostMessage *record, void *context, void *a3, void *a4, void *a5);

// Record lists. AllocRecip/AllocPart store a zeroed entry at index
// recipCount/partCount and return non-zero, or 0 when the list is full
// (5000 / 500) or memory is out; the caller fills it and increments the count.
MVCOM_API int com_AllocRecip(HostMessage *record);
MVCOM_API int com_AllocPart(HostMessage *record);
// Frees the lists and zeroes the whole record except msgSeq and groupFolder.
MVCOM_API void com_ResetObject(HostMessage *record);
// Frees the entries of both lists; counts become 0.
MVCOM_API void com_Deallocate(HostMessage *record, void *context);
// As com_Deallocate, and deletes the item's part files in the work directory.
MVCOM_API void com_Deallocate_All(HostMessage *record, void *context);

// Drops every file attachment (kind 0) whose part file is above maxKB
// thousand bytes (maxKB 0 or less: no limit), logging each and deleting its
// file; later parts and their files move down, so part i keeps file i.
// Returns the number dropped.
MVCOM_API int com_AttachSize(HostMessage *record, void *context, int index, int maxKB);

// The record's size: *fieldBytes the text fields, *totalBytes those plus the
// part files. Returns 0.
MVCOM_API int com_CalcMdatSize(HostMessage *record, int *fieldBytes, int *totalBytes);

// Rewrites sender and recipient addresses through the host's address map.
// Returns the number of addresses changed.
MVCOM_API int com_AddressTranslate(HostMessage *record);

// The test pause on Linux: shows text and caption through the host's hook
// (on Windows the plug-in calls the system's MessageBoxA instead).
MVCOM_API void com_MessageBox(const char *text, const char *caption);

// Part files kept in memory. A host that asks for it (mvcom_SetPartMemory)
// has small part files handed over as bytes under their file's name instead
// of written to disk: two file creations and deletions less per item. Every
// reader of a part file asks here first; a name not kept is the file.
//
// The largest part kept; 0 when the host keeps none (then every part is a
// file, as on Windows).
MVCOM_API size_t mvcom_PartMemoryLimit(void);
// Keeps size bytes under path (any file of that name removed). Returns 1
// when kept; 0 when parts are not kept or size is above the limit.
MVCOM_API int mvcom_PartKeep(const char *path, const char *data, size_t size);
// Calls sink once with the bytes kept under path. Returns 1 when they were
// kept, 0 when path is not kept (read the file).
typedef void (*MvcomPartSink)(void *user, const char *data, size_t size);
MVCOM_API int mvcom_PartRead(const char *path, MvcomPartSink sink, void *user);
// Drops what is kept under path and removes the file of that name.
MVCOM_API void mvcom_PartRemove(const char *path);
// Moves the part named from to the name to, kept or file. Returns 0, or -1
// when neither exists or the file cannot be renamed (to then absent).
MVCOM_API int mvcom_PartRename(const char *from, const char *to);

// Group members made in an earlier try. The plug-in creates each member of
// a group as a contact of its own before the group. A group written again
// (it failed, or a run was killed while its members were made) takes the
// contacts made before for its members instead of making them twice.
//
// Copies into id (cap bytes) the id of the contact made before for member
// `index` of the group being written, when it had this name and address.
// Returns 1 then; 0 when there is none or the host keeps no record.
MVCOM_API int mvcom_KnownGroupMember(int index, const char *name, const char *address, char *id, size_t cap);
// Tells the host the contact made for member `index` of the group being written.
MVCOM_API void mvcom_NoteGroupMember(int index, const char *name, const char *address, const char *id);

}  // extern "C"

// Appends the bytes kept under path to *bytes. Returns false when path is
// not kept (read the file).
inline bool ReadKeptPart(const char *path, std::string *bytes) {
  return mvcom_PartRead(
             path, [](void *user, const char *data, size_t size) { static_cast<std::string *>(user)->append(data, size); },
             bytes) != 0;
}
