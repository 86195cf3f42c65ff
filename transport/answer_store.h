// The answers of the server kept in memory under the name of the file they
// stand for (the "response path" every caller passes), and written to that
// file only when an answer grows past a size or cannot be kept otherwise.
// Readers open an answer by its name and get a FILE* either way.
#pragma once

#include <cstddef>

#include "platform/file_guard.h"

enum : size_t {
  // An answer up to this size stays in memory; a larger one (an attachment
  // in one piece) goes on into its file.
  kAnswerSpillSize = 1024 * 1024,
};

// Starts the answer named path, empty: what was kept under that name is
// dropped (a reader that still has it open keeps reading it). Returns 0
// when the answer must go to its file and the file cannot be created, and
// for a name of 1024 bytes or more.
int AnswerBegin(const char *path);

// Adds bytes to the answer begun last. Returns 0 when a write to its file
// failed (the answer is then incomplete).
int AnswerAppend(const char *data, size_t size);

// Ends the answer begun last (its file, if it has one, closed). Returns 0
// when the file could not be written completely.
int AnswerEnd();

// Opens the answer named path for reading from its start: from memory when
// it is kept there, else the file of that name (mode as for fopen). Empty
// when neither can be opened.
FilePtr OpenAnswer(const char *path, const char *mode);

// 0 when the answer named path is kept in memory and holds no text that
// matches text (ASCII case ignored; text starts with a character that is no
// letter); 1 otherwise, when it may. Spares a reader a pass over an answer
// for an element it cannot hold.
int AnswerMayHold(const char *path, const char *text);

// Writes the answer named path, byte for byte, to copyPath (a debug copy).
// Returns 0 on success, as com_fcopy does.
int CopyAnswer(const char *path, const char *copyPath);

// Writes the answer named path to that file if it is kept in memory, so
// that it stays there for a person to read (an answer that failed an item).
void KeepAnswerFile(const char *path);

// Drops the answer named path and removes its file.
void ForgetAnswer(const char *path);

// Drops every answer kept in memory (files stay): a new session, a test.
void ForgetAllAnswers();

// The size above which answers go to their files: kAnswerSpillSize unless
// set; 0 puts every answer in its file. Where memory readers are missing
// (Windows), or while /CALTEST lets a person replace an answer's file
// before it is read, every answer goes to its file whatever is set.
void SetAnswerSpillSize(size_t size);
