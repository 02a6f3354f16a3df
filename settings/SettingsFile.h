#pragma once

#include <string>

struct AppSettings;
class StringList;

// The settings file beside the executable: "Tassio.ini" in its folder.
std::string settingsFilePath(const std::string& executablePath);

// Reads the saved fields into the record. A missing or unreadable file leaves
// the record as it is; a garbled one sets the fields read before the damage.
void readSettingsFile(const std::string& path, AppSettings& settings);

// Writes the saved fields. The file is replaced atomically: a crash, a full disk
// or an unwritable folder leaves the previous file intact. Returns false then.
// A symbolic link is written through (its target is replaced, the link kept),
// the file keeps its mode and, where permitted, its owner, and a file nobody
// may write (mode a-w) is left alone: the call returns false.
bool writeSettingsFile(const std::string& path, const AppSettings& settings);

// A temporary file that a write of the settings file named settingsName left
// behind when it was cut short (killed before its rename): settingsName
// followed by .tmp-XXXXXX, or by .XXXXXX as earlier versions named them,
// XXXXXX being six letters and digits that do not read as a word or number.
bool isSettingsLeftover(const std::string& fileName, const std::string& settingsName);

// Removes such leftovers beside the settings file (and beside its link
// target): only plain files of this user. Call it while no other instance
// can be writing. Returns how many went.
int removeSettingsLeftovers(const std::string& path);

// The file's text in two parts, which writeSettingsFile puts together: the
// first line (numbers, sound and program, with its line end), and one line per
// user picture.
std::string settingsHeaderText(const AppSettings& settings);
std::string settingsPicturesText(const StringList& paths, const StringList& names);

// Replaces the file at path with text, as writeSettingsFile does.
bool writeSettingsText(const std::string& path, const std::string& text);

// Where a write of path lands: the file at the end of its chain of symbolic
// links (relative links taken from the link's folder); path itself when it is
// no link. A dangling link gives the name its target would have.
std::string settingsLinkTarget(const std::string& path);

// Something is at path (after links) that the user made read-only: no write
// permission bit is set, or this process may not write it.
bool settingsFileReadOnly(const std::string& path);

// Values are stored as single white-space-delimited tokens. Blanks, tabs and
// line ends inside a value are written as %20, %09, %0A, %0D, %0B and %0C, an
// empty value as the token %00, and a '%' as %25 only where it would otherwise
// read back as one of these. Any other '%' stands for itself, so files written
// without this escape read as before and no value grows when saved again.
std::string encodeSettingsToken(const std::string& value);
std::string decodeSettingsToken(const std::string& token);
