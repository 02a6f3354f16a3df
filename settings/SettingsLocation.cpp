#include "settings/SettingsLocation.h"

#include "files/ReplaceFile.h"
#include "settings/SettingsFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kFolderName[] = "tassio";
const char kFileName[] = "Tassio.ini";

bool isAbsolute(const std::string& path)
{
    return !path.empty() && path[0] == '/';
}

// The folder part of a file path; "/" for a file at the root, empty when the
// path has no folder at all.
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string withoutTrailingSlashes(std::string path)
{
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

bool isFolder(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string homeFromPasswordDatabase()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return std::string();
    return found->pw_dir;
}

} // namespace

PathProbe systemPathProbe()
{
    return {
        [](const std::string& path) {
            struct stat st;
            return ::lstat(path.c_str(), &st) == 0;
        },
        [](const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; },
        [](const std::string& path) { return linkTarget(path); },
        [](const std::string& path) { return isReadOnlyFile(path); },
    };
}

std::string chooseSettingsPath(const std::string& executablePath, const std::string& xdgConfigHome,
                               const std::string& home)
{
    return chooseSettingsPath(executablePath, xdgConfigHome, home, systemPathProbe());
}

std::string chooseSettingsPath(const std::string& executablePath, const std::string& xdgConfigHome,
                               const std::string& home, const PathProbe& probe)
{
    const std::string beside = settingsFilePath(executablePath);
    const std::string target = probe.linkTarget ? probe.linkTarget(beside) : beside;
    const std::string targetFolder = folderOf(target);
    if (!targetFolder.empty() && probe.canCreateFiles(targetFolder) && !(probe.readOnly && probe.readOnly(target)))
        return beside;

    std::string base;
    if (isAbsolute(xdgConfigHome))
        base = withoutTrailingSlashes(xdgConfigHome);
    else if (isAbsolute(home))
        base = withoutTrailingSlashes(home) + "/.config";
    else
        return beside; // nowhere better to go; saving fails and keeps the old file
    return base + '/' + kFolderName + '/' + kFileName;
}

std::string chooseSettingsPathFromEnvironment(const std::string& executablePath)
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return chooseSettingsPath(executablePath, xdg ? xdg : "", home ? std::string(home) : homeFromPasswordDatabase());
}

std::string settingsReadPath(const std::string& settingsPath, const std::string& executablePath)
{
    return settingsReadPath(settingsPath, executablePath, systemPathProbe());
}

std::string settingsReadPath(const std::string& settingsPath, const std::string& executablePath,
                             const PathProbe& probe)
{
    if (probe.exists(settingsPath))
        return settingsPath;
    const std::string beside = settingsFilePath(executablePath);
    return probe.exists(beside) ? beside : settingsPath;
}

bool ensureParentFolder(const std::string& path)
{
    const std::string folder = folderOf(path);
    if (folder.empty())
        return true; // the current folder
    if (isFolder(folder))
        return true;

    // Each folder from the top down; one that appears meanwhile (another
    // instance making it) is as good as one made here.
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (end == std::string::npos)
            break;
    }
    return isFolder(folder);
}

std::vector<std::string> settingsFolders(const std::string& settingsPath, const std::string& executablePath)
{
    std::vector<std::string> folders;
    for (const std::string& file : { settingsFilePath(executablePath), settingsPath }) {
        std::string folder = folderOf(file);
        if (folder.empty())
            folder = ".";
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    return folders;
}
