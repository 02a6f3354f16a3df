// Where the settings file goes: beside the executable for a portable copy,
// under the user's configuration folder for an installed one.
#include "settings/SettingsLocation.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "Unprivileged.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A file system made of two lists: what exists, and the folders new files can
// be made in.
PathProbe fakeProbe(std::set<std::string> existing, std::set<std::string> creatable)
{
    return {
        [existing](const std::string& p) { return existing.count(p) > 0; },
        [creatable](const std::string& p) { return creatable.count(p) > 0; },
        nullptr,
        nullptr,
    };
}

TEST(ChooseSettingsPath, FollowsTheFolderTheProgramIsIn)
{
    const struct {
        const char* what;
        const char* exe;
        const char* xdg;
        const char* home;
        std::set<std::string> existing;
        std::set<std::string> creatable;
        const char* expected;
    } cases[] = {
        { "portable, first run", "/home/u/tassio/tassio", "", "/home/u", {}, { "/home/u/tassio" },
          "/home/u/tassio/Tassio.ini" },
        { "portable, settings saved before", "/home/u/tassio/tassio", "/home/u/.cfg", "/home/u",
          { "/home/u/tassio/Tassio.ini" }, { "/home/u/tassio" }, "/home/u/tassio/Tassio.ini" },
        { "portable wins over XDG_CONFIG_HOME", "/opt/t/tassio", "/home/u/.cfg", "/home/u", {}, { "/opt/t" },
          "/opt/t/Tassio.ini" },
        { "installed, XDG_CONFIG_HOME set", "/usr/local/bin/tassio", "/home/u/.cfg", "/home/u", {}, {},
          "/home/u/.cfg/tassio/Tassio.ini" },
        { "installed, XDG_CONFIG_HOME empty", "/usr/bin/tassio", "", "/home/u", {}, {},
          "/home/u/.config/tassio/Tassio.ini" },
        { "installed, XDG_CONFIG_HOME relative", "/usr/bin/tassio", "cfg", "/home/u", {}, {},
          "/home/u/.config/tassio/Tassio.ini" },
        { "installed, XDG_CONFIG_HOME with trailing slashes", "/usr/bin/tassio", "/x/cfg//", "/home/u", {}, {},
          "/x/cfg/tassio/Tassio.ini" },
        { "installed, home with a trailing slash", "/usr/bin/tassio", "", "/home/u/", {}, {},
          "/home/u/.config/tassio/Tassio.ini" },
        { "installed, XDG_CONFIG_HOME without a home", "/usr/bin/tassio", "/x/cfg", "", {}, {},
          "/x/cfg/tassio/Tassio.ini" },
        // The save goes through a temporary file beside the target, so a
        // writable file in a folder that is not writable cannot be saved.
        { "file there but its folder read-only", "/usr/bin/tassio", "", "/home/u", { "/usr/bin/Tassio.ini" }, {},
          "/home/u/.config/tassio/Tassio.ini" },
        { "neither configuration folder known", "/usr/bin/tassio", "", "", {}, {}, "/usr/bin/Tassio.ini" },
        { "relative home only", "/usr/bin/tassio", "cfg", "home/u", {}, {}, "/usr/bin/Tassio.ini" },
        { "program at the root", "/tassio", "", "/root", {}, { "/" }, "/Tassio.ini" },
        // A folder only found writable one level up does not count.
        { "parent folder writable, own folder not", "/opt/t/bin/tassio", "", "/home/u", {}, { "/opt/t" },
          "/home/u/.config/tassio/Tassio.ini" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseSettingsPath(c.exe, c.xdg, c.home, fakeProbe(c.existing, c.creatable)), c.expected)
            << c.what;
    }
}

TEST(ChooseSettingsPath, AsksOnlyAboutTheExecutablesFolder)
{
    std::set<std::string> asked;
    const PathProbe probe {
        [&](const std::string& p) {
            asked.insert("exists " + p);
            return false;
        },
        [&](const std::string& p) {
            asked.insert("writable " + p);
            return false;
        },
        nullptr,
        nullptr,
    };
    chooseSettingsPath("/usr/bin/tassio", "/x", "/home/u", probe);
    EXPECT_EQ(asked, std::set<std::string>({ "writable /usr/bin" }));
}

// A Tassio.ini beside the executable is judged by what a save would replace:
// a link by its target's folder, and a file the user made read-only not at all.
TEST(ChooseSettingsPath, JudgesTheFileASaveWouldReplace)
{
    const struct {
        const char* what;
        std::set<std::string> creatable;
        std::string target; // where Tassio.ini leads
        bool readOnly;
        const char* expected;
    } cases[] = {
        { "plain writable file", { "/opt/t" }, "/opt/t/Tassio.ini", false, "/opt/t/Tassio.ini" },
        { "file made read-only", { "/opt/t" }, "/opt/t/Tassio.ini", true, "/c/tassio/Tassio.ini" },
        { "link into a writable folder", {}, "/home/u/keep/t.ini", false, "/opt/t/Tassio.ini" },
        { "link into a read-only folder", { "/opt/t" }, "/etc/t.ini", false, "/c/tassio/Tassio.ini" },
        { "link to a read-only file", { "/home/u/keep" }, "/home/u/keep/t.ini", true, "/c/tassio/Tassio.ini" },
    };
    for (const auto& c : cases) {
        std::set<std::string> creatable = c.creatable;
        creatable.insert("/home/u/keep");
        const PathProbe probe {
            [](const std::string&) { return true; },
            [creatable](const std::string& p) { return creatable.count(p) > 0; },
            [&c](const std::string& p) { return p == "/opt/t/Tassio.ini" ? c.target : p; },
            [&c](const std::string& p) { return p == c.target && c.readOnly; },
        };
        EXPECT_EQ(chooseSettingsPath("/opt/t/tassio", "/c", "/home/u", probe), c.expected) << c.what;
    }
}

TEST(SettingsReadPath, CarriesOverTheFileBesideTheExecutableUntilTheOwnOneExists)
{
    const struct {
        const char* what;
        std::set<std::string> existing;
        const char* settingsPath;
        const char* expected;
    } cases[] = {
        { "own file there", { "/c/tassio/Tassio.ini", "/usr/bin/Tassio.ini" }, "/c/tassio/Tassio.ini",
          "/c/tassio/Tassio.ini" },
        { "only the old one there", { "/usr/bin/Tassio.ini" }, "/c/tassio/Tassio.ini", "/usr/bin/Tassio.ini" },
        { "none there", {}, "/c/tassio/Tassio.ini", "/c/tassio/Tassio.ini" },
        { "portable, none there", {}, "/usr/bin/Tassio.ini", "/usr/bin/Tassio.ini" },
        { "portable, there", { "/usr/bin/Tassio.ini" }, "/usr/bin/Tassio.ini", "/usr/bin/Tassio.ini" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(settingsReadPath(c.settingsPath, "/usr/bin/tassio", fakeProbe(c.existing, {})), c.expected)
            << c.what;
}

using testfs::TempDir;
using testfs::modeOf;

// The same choice against the real file system. These folders refuse new
// files even to root: one that does not exist, and a process folder in /proc.
TEST(ChooseSettingsPath, AsksTheRealFileSystem)
{
    TempDir portable("location");
    ASSERT_FALSE(portable.path().empty());
    const struct {
        std::string what;
        std::string exe;
        std::string expected;
    } cases[] = {
        { "writable folder", portable.path() + "/tassio", portable.path() + "/Tassio.ini" },
        { "folder missing", portable.path() + "/missing/tassio", "/home/u/.config/tassio/Tassio.ini" },
        { "/proc/1", "/proc/1/tassio", "/home/u/.config/tassio/Tassio.ini" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(chooseSettingsPath(c.exe, "", "/home/u"), c.expected) << c.what;
}

TEST(ChooseSettingsPath, ReadOnlyFolderForAnOrdinaryUser)
{
    TempDir folder("location");
    ASSERT_FALSE(folder.path().empty());
    const auto as = unprivileged::ids();
    ASSERT_EQ(::chown(folder.path().c_str(), as.uid, as.gid), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    EXPECT_AS_ORDINARY_USER([&]() -> std::string {
        std::string faults;
        const std::string chosen = chooseSettingsPath(folder.path() + "/tassio", "/c", "/home/u");
        if (chosen != "/c/tassio/Tassio.ini")
            faults += "a folder of mode 0555 gave " + chosen + "; ";
        // Writable again, the same folder is chosen: the mode decided.
        if (::chmod(folder.path().c_str(), 0755) != 0)
            return faults + "chmod 0755 failed: " + std::strerror(errno);
        const std::string writable = chooseSettingsPath(folder.path() + "/tassio", "/c", "/home/u");
        if (writable != folder.path() + "/Tassio.ini")
            faults += "the folder made writable gave " + writable;
        return faults;
    });
}

TEST(ChooseSettingsPath, ReadsTheEnvironment)
{
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdg = savedXdg ? savedXdg : "";
    const std::string home = savedHome ? savedHome : "";

    ::setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(chooseSettingsPathFromEnvironment("/proc/1/tassio"), "/x/cfg/tassio/Tassio.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(chooseSettingsPathFromEnvironment("/proc/1/tassio"), "/home/u/.config/tassio/Tassio.ini");
    // Without HOME the password database still knows the home folder.
    ::unsetenv("HOME");
    const std::string fallback = chooseSettingsPathFromEnvironment("/proc/1/tassio");
    EXPECT_EQ(fallback.rfind("/.config/tassio/Tassio.ini"), fallback.size() - 26) << fallback;
    EXPECT_EQ(fallback.front(), '/') << fallback;

    savedXdg ? ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    savedHome ? ::setenv("HOME", home.c_str(), 1) : ::unsetenv("HOME");
}

TEST(SettingsReadPath, AsksTheRealFileSystem)
{
    TempDir folder("location");
    const std::string own = folder.path() + "/cfg/tassio/Tassio.ini";
    const std::string exe = folder.path() + "/bin/tassio";
    EXPECT_EQ(settingsReadPath(own, exe), own);
    ASSERT_TRUE(ensureParentFolder(exe));
    std::ofstream(folder.path() + "/bin/Tassio.ini") << "1,2\n";
    EXPECT_EQ(settingsReadPath(own, exe), folder.path() + "/bin/Tassio.ini");
    ASSERT_TRUE(ensureParentFolder(own));
    std::ofstream(own) << "3,4\n";
    EXPECT_EQ(settingsReadPath(own, exe), own);
}

TEST(ChooseSettingsPath, ReadOnlyFileOnTheRealFileSystem)
{
    TempDir folder("location");
    const std::string ini = folder.path() + "/Tassio.ini";
    std::ofstream(ini) << "1,2\n";
    EXPECT_EQ(chooseSettingsPath(folder.path() + "/tassio", "/c", "/home/u"), ini);
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    EXPECT_EQ(chooseSettingsPath(folder.path() + "/tassio", "/c", "/home/u"), "/c/tassio/Tassio.ini");
    // Its contents still carry over to the new place.
    EXPECT_EQ(settingsReadPath("/c/tassio/Tassio.ini", folder.path() + "/tassio"), ini);
}

TEST(EnsureParentFolder, MakesPrivateFoldersDownToTheFile)
{
    const mode_t savedMask = ::umask(022);
    TempDir base("location");
    ASSERT_FALSE(base.path().empty());
    ASSERT_EQ(::mkdir((base.path() + "/open").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((base.path() + "/open").c_str(), 0755), 0);
    std::ofstream(base.path() + "/plain") << "x";

    const struct {
        std::string what;
        std::string file;
        bool result;
        std::string folder;  // checked to exist with mode when not empty
        mode_t mode;
    } cases[] = {
        { "one level", base.path() + "/cfg/Tassio.ini", true, base.path() + "/cfg", 0700 },
        { "several levels", base.path() + "/a/b/tassio/Tassio.ini", true, base.path() + "/a/b/tassio", 0700 },
        { "each made level private", base.path() + "/a/b/tassio/Tassio.ini", true, base.path() + "/a", 0700 },
        { "existing folder untouched", base.path() + "/open/Tassio.ini", true, base.path() + "/open", 0755 },
        { "below an existing folder", base.path() + "/open/tassio/Tassio.ini", true, base.path() + "/open/tassio",
          0700 },
        { "doubled slash", base.path() + "/d//tassio/Tassio.ini", true, base.path() + "/d/tassio", 0700 },
        { "a file in the way", base.path() + "/plain/tassio/Tassio.ini", false, "", 0 },
        { "where nobody may make folders", "/proc/1/tassio/Tassio.ini", false, "", 0 },
        { "file in the current folder", "Tassio.ini", true, "", 0 },
        { "file at the root", "/Tassio.ini", true, "", 0 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ensureParentFolder(c.file), c.result) << c.what;
        if (!c.folder.empty()) {
            EXPECT_EQ(modeOf(c.folder), c.mode) << c.what;
        }
    }
    ::umask(savedMask);
}

} // namespace

TEST(SettingsFolders, NamesEachFolderThatCouldHoldTheFileOnce)
{
    const struct {
        const char* settingsPath;
        const char* executable;
        std::vector<std::string> folders;
    } cases[] = {
        { "/usr/local/bin/Tassio.ini", "/usr/local/bin/tassio", { "/usr/local/bin" } },
        { "/home/u/.config/tassio/Tassio.ini", "/usr/bin/tassio", { "/usr/bin", "/home/u/.config/tassio" } },
        { "/cfg/tassio/Tassio.ini", "/tassio", { "/", "/cfg/tassio" } },
        { "Tassio.ini", "/opt/t/tassio", { "/opt/t", "." } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(settingsFolders(c.settingsPath, c.executable), c.folders) << c.settingsPath;
}
