// Part files the plug-in may hand to the host as bytes instead of writing
// them, when the host keeps parts in memory (mvcom_PartMemoryLimit).
#pragma once

#include <string>

#include "platform/file_guard.h"

// A stream for writing the part file at path. When the host keeps parts, the
// bytes are held and handed to it under path when the stream is closed; a
// part that grows past the host's limit goes on into its file. Otherwise (and
// on Windows) it is the file. Empty when the file cannot be created.
FilePtr OpenPartSink(const char *path);

// A stream for reading the part at path from its start: the kept bytes
// (copied into *kept, which must outlive the stream) or the file.
FilePtr OpenPartSource(const char *path, std::string *kept);
