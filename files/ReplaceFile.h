#pragma once

#include <string>

// Replaces the file at path with bytes, atomically: the bytes go to a
// temporary file beside it (<name>.tmp-XXXXXX), which is synced and then
// renamed over it, so a crash, a full disk or an unwritable folder leaves the
// old file intact; returns false then. A symbolic link is written through (its
// target is replaced, the link kept), the file keeps its mode and, where
// permitted, its owner, and a read-only file (isReadOnlyFile) or anything that
// is not a regular file is left alone: the call returns false.
bool replaceFile(const std::string& path, const std::string& bytes);

// Where a write of path lands: the file at the end of its chain of symbolic
// links (relative links taken from the link's folder); path itself when it is
// no link. A dangling link gives the name its target would have.
std::string linkTarget(const std::string& path);

// Something is at path (after links) that the user made read-only: no write
// permission bit is set, or this process may not write it.
bool isReadOnlyFile(const std::string& path);

// fileName is a temporary file that a replaceFile of a file named name left
// behind when it was cut short (killed before its rename).
bool isReplaceTemporary(const std::string& fileName, const std::string& name);
