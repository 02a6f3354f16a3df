#pragma once

#include <string>

struct AppSettings;

// The settings file beside the executable: "Tassio.ini" in its folder.
std::string settingsFilePath(const std::string& executablePath);

// Reads the saved fields into the record. A missing or unreadable file leaves
// the record as it is; a garbled one sets the fields read before the damage.
void readSettingsFile(const std::string& path, AppSettings& settings);

// Writes the saved fields. The file is replaced atomically: a crash, a full disk
// or an unwritable folder leaves the previous file intact. Returns false then.
bool writeSettingsFile(const std::string& path, const AppSettings& settings);

// Values are stored as single white-space-delimited tokens. Blanks, tabs and
// line ends inside a value are written as %20, %09, %0A, %0D, %0B and %0C, an
// empty value as the token %00, and a '%' as %25 only where it would otherwise
// read back as one of these. Any other '%' stands for itself, so files written
// without this escape read as before and no value grows when saved again.
std::string encodeSettingsToken(const std::string& value);
std::string decodeSettingsToken(const std::string& token);
