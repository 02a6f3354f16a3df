#pragma once

#include <string>

struct AppSettings;
class UserPictures;

// The settings file beside the executable: "Tassio.ini" in its folder.
std::string settingsFilePath(const std::string& executablePath);

// Reads the saved fields into the record. A missing or unreadable file leaves
// the record as it is; a garbled one sets the fields read before the damage.
void readSettingsFile(const std::string& path, AppSettings& settings);

// Writes the saved fields with replaceFile (files/ReplaceFile.h): a crash, a
// full disk or an unwritable folder leaves the previous file intact and the
// call returns false; a link is written through, the mode kept, and a file
// nobody may write (mode a-w) left alone.
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

// The file's text in two parts, which writeSettingsFile puts together and
// replaceFile writes: the
// first line (numbers, sound and program, with its line end), and one line per
// user picture.
std::string settingsHeaderText(const AppSettings& settings);
std::string settingsPicturesText(const UserPictures& pictures);

// Values are stored as single white-space-delimited tokens. Blanks, tabs and
// line ends inside a value are written as %20, %09, %0A, %0D, %0B and %0C, an
// empty value as the token %00, and a '%' as %25 only where it would otherwise
// read back as one of these. Any other '%' stands for itself, so files written
// without this escape read as before and no value grows when saved again.
std::string encodeSettingsToken(const std::string& value);
std::string decodeSettingsToken(const std::string& token);
