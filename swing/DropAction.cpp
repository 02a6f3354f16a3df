#include "swing/DropAction.h"

#include <cstddef>

namespace {

bool contains(const std::string& s, const char* a, const char* b)
{
    return s.find(a) != std::string::npos || s.find(b) != std::string::npos;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX becomes the byte XX; a '%' not followed by two hex digits stays itself.
std::string percentDecoded(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return i == a.size() && !b[i];
}

// The local file a single URI names, or "" when it names none.
std::string localFile(const std::string& uri, const std::string& localHost)
{
    if (uri.size() < 5 || !equalsIgnoringCase(uri.substr(0, 5), "file:"))
        return {};
    std::string rest = uri.substr(5);
    // A query or fragment is no part of the name; a file name's own '?' and
    // '#' arrive as %3F and %23.
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.compare(0, 2, "//") == 0) {
        const std::size_t pathStart = rest.find('/', 2);
        if (pathStart == std::string::npos)
            return {};
        const std::string host = rest.substr(2, pathStart - 2);
        if (!host.empty() && !equalsIgnoringCase(host, "localhost") && host != localHost)
            return {};
        rest = rest.substr(pathStart);
    }
    if (rest.empty() || rest[0] != '/')
        return {};
    std::string name = percentDecoded(rest);
    // No file's name holds a zero byte; the part before it names another file.
    if (name.find('\0') != std::string::npos)
        return {};
    return name;
}

} // namespace

DropAction dropActionFor(const std::string& name, int changePictureOnDrop, const std::string& textProgram,
                         const FirstByteReader& firstByte)
{
    if (contains(name, ".wav", ".WAV"))
        return DropAction::PlaySound;
    if (contains(name, ".bmp", ".BMP"))
        return changePictureOnDrop == 1 ? DropAction::AdoptAsFigure : DropAction::ShowPicture;
    if (contains(name, ".doc", ".DOC") && textProgram != "NULL" && firstByte && firstByte(name) == 0xD0)
        return DropAction::OpenDocument;
    return DropAction::ShowText;
}

std::vector<std::string> localFilesFromUriList(const std::string& uriList, const std::string& localHost)
{
    std::vector<std::string> files;
    std::size_t start = 0;
    while (start < uriList.size()) {
        std::size_t end = uriList.find('\n', start);
        if (end == std::string::npos)
            end = uriList.size();
        std::string line = uriList.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::string name = localFile(line, localHost);
        if (!name.empty())
            files.push_back(std::move(name));
    }
    return files;
}

std::string displayNameFromPath(const std::string& path)
{
    // A '/' byte never occurs inside a multi-byte UTF-8 character, so cutting
    // after the last one cannot split a character.
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
