#pragma once

#include <functional>
#include <string>
#include <vector>

// Where the settings file lives. A copy unpacked into a folder of its own keeps
// Tassio.ini beside the executable (portable use); an installed copy, whose
// folder (/usr/bin, /usr/local/bin) the user cannot write, keeps it under the
// user's configuration folder instead.

// The two questions the choice asks of the file system; tests put their own
// answers here, since root passes every permission check on a real folder.
struct PathProbe {
    // Something exists at the path.
    std::function<bool(const std::string& path)> exists;
    // New files can be made in the folder: access(folder, W_OK | X_OK).
    // For root this holds for any folder except on a read-only file system
    // or in special ones such as /proc/<pid>.
    std::function<bool(const std::string& folder)> canCreateFiles;
    // Where a write of the file at path lands (linkTarget); path
    // itself when not given.
    std::function<std::string(const std::string& path)> linkTarget;
    // The file at path is there and the user made it read-only
    // (isReadOnlyFile); never when not given.
    std::function<bool(const std::string& path)> readOnly;
};

// The probe that asks the real file system.
PathProbe systemPathProbe();

// Beside the executable (settingsFilePath) when new files can be made in its
// folder; the file is replaced atomically through a temporary file beside it,
// so a writable Tassio.ini in a folder that is not writable cannot be saved
// and does not count. A Tassio.ini there that is a link counts by its
// target's folder; one the user made read-only does not count either. Otherwise $XDG_CONFIG_HOME/tassio/Tassio.ini, or
// <home>/.config/tassio/Tassio.ini when xdgConfigHome is empty or not
// absolute. When home is not absolute either, beside the executable after all.
std::string chooseSettingsPath(const std::string& executablePath, const std::string& xdgConfigHome,
                               const std::string& home);
std::string chooseSettingsPath(const std::string& executablePath, const std::string& xdgConfigHome,
                               const std::string& home, const PathProbe& probe);

// The same with XDG_CONFIG_HOME and HOME from the environment; HOME falls back
// to the password database when unset.
std::string chooseSettingsPathFromEnvironment(const std::string& executablePath);

// The file to read the settings from: settingsPath once it exists; until then
// the file beside the executable when there is one, so settings kept there by
// an earlier portable copy (or put there by whoever installed the program)
// carry over instead of being replaced by defaults at the first save.
std::string settingsReadPath(const std::string& settingsPath, const std::string& executablePath);
std::string settingsReadPath(const std::string& settingsPath, const std::string& executablePath,
                             const PathProbe& probe);

// Makes the folder the file goes into, and any missing folder above it, each
// with mode 0700 (the configuration folders are private). Folders that exist
// are left as they are. True when the folder exists afterwards.
bool ensureParentFolder(const std::string& path);

// The folders the settings could go to, in the order they are considered: the
// executable's, then the folder of settingsPath when that is another one.
// When saving fails these are the folders to name: the first was passed over
// or failed, the second failed.
std::vector<std::string> settingsFolders(const std::string& settingsPath, const std::string& executablePath);
