#include "settings/SettingsFile.h"

#include "files/RegularFile.h"
#include "files/ReplaceFile.h"
#include "settings/AppSettings.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A picture line is read whole up to this many bytes, line end not counted:
// far above any path the system can open (4096 bytes, escaped at most three
// times as long) or name the panel takes. A longer line is skipped whole.
constexpr std::size_t kMaxPictureLine = 64 * 1024;
// A settings file is read whole; 100 000 pictures take a few megabytes.
constexpr std::size_t kMaxSettingsBytes = std::size_t { 256 } << 20;
// Longer tokens are consumed but not kept: no path or name is that long, and it
// keeps memory bounded whatever the file holds.
constexpr std::size_t kMaxToken = 64 * 1024;

bool isSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Formatted input over a stdio stream with the semantics of fscanf's %d, %s,
// literals and white-space directives, but without fixed-size buffers.
class Scanner {
public:
    explicit Scanner(FILE* f) : f_(f) {}

    void skipSpace()
    {
        int c;
        while ((c = getc(f_)) != EOF && isSpace(c)) { }
        if (c != EOF)
            ungetc(c, f_);
    }

    bool literal(char want)
    {
        int c = getc(f_);
        if (c == want)
            return true;
        if (c != EOF)
            ungetc(c, f_);
        return false;
    }

    bool integer(int& out)
    {
        skipSpace();
        int c = getc(f_);
        bool negative = false;
        if (c == '+' || c == '-') {
            negative = c == '-';
            c = getc(f_);
        }
        if (c == EOF || c < '0' || c > '9') {
            if (c != EOF)
                ungetc(c, f_);
            return false;
        }
        long long value = 0;
        for (; c != EOF && c >= '0' && c <= '9'; c = getc(f_)) {
            if (value <= LLONG_MAX / 10 - 10)
                value = value * 10 + (c - '0');
        }
        if (c != EOF)
            ungetc(c, f_);
        if (negative)
            value = -value;
        // Out-of-range numbers saturate rather than wrap to something unrelated.
        if (value > INT_MAX)
            value = INT_MAX;
        if (value < INT_MIN)
            value = INT_MIN;
        out = static_cast<int>(value);
        return true;
    }

    bool token(std::string& out)
    {
        skipSpace();
        int c = getc(f_);
        if (c == EOF)
            return false;
        out.clear();
        for (; c != EOF && !isSpace(c); c = getc(f_)) {
            if (out.size() < kMaxToken)
                out.push_back(static_cast<char>(c));
        }
        if (c != EOF)
            ungetc(c, f_);
        return true;
    }

    // One line up to its line feed, which is consumed and not kept. Returns
    // false when the end of the file came first: a last line without a line
    // end is not used. tooLong tells that the line was over kMaxPictureLine;
    // it is consumed whole and out holds none of it.
    bool line(std::string& out, bool& tooLong)
    {
        out.clear();
        tooLong = false;
        for (;;) {
            const int c = getc(f_);
            if (c == EOF)
                return false;
            if (c == '\n')
                return true;
            if (tooLong)
                continue;
            if (out.size() == kMaxPictureLine) {
                tooLong = true;
                out.clear();
                continue;
            }
            out.push_back(static_cast<char>(c));
        }
    }

private:
    FILE* f_;
};

// The first line of the file: each saved field once, in the file's order,
// with the character written after it. A number reads as fscanf's %d and
// must be followed by its comma; the sound and the program are tokens, which
// any blank space separates when read. A field that is not here is not
// saved.
struct SavedField {
    // One of the three is set: what the field is and where it lives.
    int AppSettings::*number;
    // Written as 0..255; a number read is taken modulo 256.
    std::uint8_t AppSettings::*angle;
    std::string AppSettings::*path;
    char after;
};

constexpr SavedField numberField(int AppSettings::*field)
{
    return { field, nullptr, nullptr, ',' };
}
constexpr SavedField angleField(std::uint8_t AppSettings::*field)
{
    return { nullptr, field, nullptr, ',' };
}
constexpr SavedField pathField(std::string AppSettings::*field, char after)
{
    return { nullptr, nullptr, field, after };
}

constexpr SavedField kSavedFields[] = {
    numberField(&AppSettings::anchorX),
    numberField(&AppSettings::anchorY),
    numberField(&AppSettings::tickInterval),
    numberField(&AppSettings::pendulumLength),
    angleField(&AppSettings::swingAngle),
    numberField(&AppSettings::alwaysOnTop),
    numberField(&AppSettings::figureIndex),
    numberField(&AppSettings::uniformSwing),
    numberField(&AppSettings::changePictureOnDrop),
    pathField(&AppSettings::soundFile, ' '),
    pathField(&AppSettings::textProgram, '\n'),
};

// A C string ends at its first zero byte; so does a value read from the file.
std::string cString(const std::string& s)
{
    return s.substr(0, s.find('\0'));
}

// Splits a picture line into its first two white-space-delimited tokens.
bool twoTokens(const std::string& line, std::string& first, std::string& second)
{
    std::size_t i = 0;
    auto next = [&](std::string& out) {
        while (i < line.size() && isSpace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i == line.size())
            return false;
        std::size_t start = i;
        while (i < line.size() && !isSpace(static_cast<unsigned char>(line[i])))
            ++i;
        out = line.substr(start, i - start);
        return true;
    };
    return next(first) && next(second);
}

struct EscapeCode {
    char ch;
    const char* code;
};
constexpr EscapeCode kEscapes[] = {
    { '%', "%25" }, { ' ', "%20" }, { '\t', "%09" }, { '\n', "%0A" },
    { '\r', "%0D" }, { '\v', "%0B" }, { '\f', "%0C" },
};
constexpr const char* kEmptyToken = "%00";

// Earlier versions wrote <name>.XXXXXX beside the file before renaming it.
constexpr std::size_t kOldTempRandom = 6; // mkstemp's XXXXXX

bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Scans one field of the first line into the record; false at the first
// mismatch, where reading the line stops.
bool readField(Scanner& in, const SavedField& field, AppSettings& s)
{
    if (field.path) {
        std::string token;
        if (!in.token(token))
            return false;
        s.*field.path = decodeSettingsToken(cString(token));
        in.skipSpace();
        return true;
    }
    int value = 0;
    if (!in.integer(value))
        return false;
    if (field.number)
        s.*field.number = value;
    else
        s.*field.angle = static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu);
    return in.literal(field.after);
}

} // namespace

std::string settingsFilePath(const std::string& executablePath)
{
    std::size_t slash = executablePath.rfind('/');
    std::string dir = slash == std::string::npos ? executablePath : executablePath.substr(0, slash);
    return dir + "/Tassio.ini";
}

std::string encodeSettingsToken(const std::string& value)
{
    if (value.empty())
        return kEmptyToken;
    // A '%' is escaped only where it would otherwise read back as an escape.
    // Then no value grows when written again, so whatever was read fits where
    // it came from: a picture line over 64 KiB is skipped and a token is cut
    // at 64 KiB, and a longer rewrite would be read differently.
    if (value == kEmptyToken)
        return "%25" + value.substr(1);
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const char* code = nullptr;
        for (const auto& e : kEscapes) {
            if (e.ch == c)
                code = e.code;
        }
        if (c == '%') {
            bool readsAsEscape = false;
            for (const auto& e : kEscapes)
                readsAsEscape = readsAsEscape || value.compare(i, 3, e.code) == 0;
            if (!readsAsEscape)
                code = nullptr;
        }
        if (code)
            out += code;
        else
            out.push_back(c);
    }
    return out;
}

std::string decodeSettingsToken(const std::string& token)
{
    if (token == kEmptyToken)
        return {};
    std::string out;
    out.reserve(token.size());
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (token[i] == '%') {
            bool matched = false;
            for (const auto& e : kEscapes) {
                if (token.compare(i, 3, e.code) == 0) {
                    out.push_back(e.ch);
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        out.push_back(token[i]);
    }
    return out;
}

void readSettingsFile(const std::string& path, AppSettings& s)
{
    const RegularFile file = RegularFile::readWhole(path, kMaxSettingsBytes);
    if (!file.ok() || file.bytes().empty())
        return;
    // Editors may save the file with a UTF-8 byte-order mark; the numbers of
    // the first line come after it.
    std::size_t start = 0;
    if (file.bytes().compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    if (start == file.bytes().size())
        return;
    // The scanner keeps fscanf's semantics over a stream of the bytes read.
    FILE* f = fmemopen(const_cast<char*>(file.bytes().data() + start), file.bytes().size() - start, "r");
    if (!f)
        return;
    Scanner in(f);

    // Line 1. Each field is stored as soon as it is scanned; a mismatch leaves
    // the rest at their current values and reading goes on from the character
    // that did not match.
    for (const SavedField& field : kSavedFields) {
        if (!readField(in, field, s))
            break;
    }

    // One user picture per following line: "%s %s".
    std::string line, path0, name;
    bool tooLong = false;
    while (in.line(line, tooLong)) {
        if (tooLong)
            continue;
        line = cString(line);
        if (twoTokens(line, path0, name))
            s.pictures.add(decodeSettingsToken(path0), decodeSettingsToken(name));
    }
    fclose(f);
}

std::string settingsHeaderText(const AppSettings& s)
{
    std::string text;
    for (const SavedField& field : kSavedFields) {
        if (field.number)
            text += std::to_string(s.*field.number);
        else if (field.angle)
            text += std::to_string(static_cast<unsigned>(s.*field.angle));
        else
            text += encodeSettingsToken(s.*field.path);
        text += field.after;
    }
    return text;
}

std::string settingsPicturesText(const UserPictures& pictures)
{
    std::string text;
    for (const UserPicture& picture : pictures)
        text += encodeSettingsToken(picture.path) + ' ' + encodeSettingsToken(picture.name) + '\n';
    return text;
}

bool writeSettingsFile(const std::string& path, const AppSettings& s)
{
    return replaceFile(path, settingsHeaderText(s) + settingsPicturesText(s.pictures));
}

bool isSettingsLeftover(const std::string& fileName, const std::string& settingsName)
{
    if (isReplaceTemporary(fileName, settingsName))
        return true;
    if (fileName.compare(0, settingsName.size(), settingsName) != 0)
        return false;
    // Earlier versions wrote <name>.XXXXXX. A user's own copy named like that
    // ("backup", "Before", "OLD", "202412") reads as a word or a number; six
    // random characters almost never do (1.6 %), and those few are left.
    const std::string rest = fileName.substr(settingsName.size());
    if (rest.size() != 1 + kOldTempRandom || rest[0] != '.')
        return false;
    const std::string r = rest.substr(1);
    int lower = 0, upper = 0, digits = 0;
    for (char c : r) {
        if (!isAlnum(c))
            return false;
        lower += c >= 'a' && c <= 'z';
        upper += c >= 'A' && c <= 'Z';
        digits += c >= '0' && c <= '9';
    }
    const int n = static_cast<int>(r.size());
    const bool capitalised = upper == 1 && lower == n - 1 && r[0] >= 'A' && r[0] <= 'Z';
    const bool wordOrNumber = lower == n || upper == n || digits == n || capitalised;
    return !wordOrNumber;
}

int removeSettingsLeftovers(const std::string& path)
{
    // The folders a write of path goes to: its link target's, and its own
    // where an earlier version wrote beside the link.
    const std::string target = linkTarget(path);
    std::vector<std::string> files { target };
    if (path != target)
        files.push_back(path);
    int removed = 0;
    for (const std::string& file : files) {
        const std::string folder = folderOf(file);
        const std::string name = fileNameOf(file);
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string entryName = entry->d_name;
            if (!isSettingsLeftover(entryName, name))
                continue;
            // Only a plain file of our own: never a link, a folder, or
            // someone else's file in a shared folder.
            const std::string leftover = folder + '/' + entryName;
            struct stat st;
            if (::lstat(leftover.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
                && ::unlink(leftover.c_str()) == 0)
                ++removed;
        }
        ::closedir(dir);
    }
    return removed;
}
