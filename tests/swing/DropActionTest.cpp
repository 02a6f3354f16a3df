// What a dropped file does, and which names a drop's URI list carries.
#include "swing/DropAction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* nameOf(DropAction a)
{
    switch (a) {
    case DropAction::PlaySound: return "play";
    case DropAction::AdoptAsFigure: return "figure";
    case DropAction::ShowPicture: return "picture viewer";
    case DropAction::OpenDocument: return "document";
    case DropAction::ShowText: return "text viewer";
    }
    return "?";
}

TEST(DropAction, SubstringsOfTheNameInOrder)
{
    const std::string program = "/usr/bin/writer";
    const struct {
        std::string name;
        int changePicture;
        std::string textProgram;
        int firstByte;
        DropAction expected;
    } cases[] = {
        { "/m/ding.wav", 0, "NULL", -1, DropAction::PlaySound },
        { "/m/DING.WAV", 1, program, 0xD0, DropAction::PlaySound },
        { "/m/notes.wav.txt", 0, "NULL", -1, DropAction::PlaySound },
        { "/m/x.Wav", 0, "NULL", -1, DropAction::ShowText },
        { "/p/dog.bmp", 0, "NULL", -1, DropAction::ShowPicture },
        { "/p/dog.BMP", 1, "NULL", -1, DropAction::AdoptAsFigure },
        { "/p/a.bmp.doc", 1, program, 0xD0, DropAction::AdoptAsFigure },
        { "/p/a.bmp", 2, "NULL", -1, DropAction::ShowPicture },
        { "/d/letter.doc", 0, program, 0xD0, DropAction::OpenDocument },
        { "/d/LETTER.DOC", 0, program, 0xD0, DropAction::OpenDocument },
        { "/d/letter.doc", 0, "NULL", 0xD0, DropAction::ShowText },
        { "/d/letter.doc", 0, program, 0x50, DropAction::ShowText },
        { "/d/letter.doc", 0, program, -1, DropAction::ShowText },
        { "/d/letter.Doc", 0, program, 0xD0, DropAction::ShowText },
        { "/t/readme", 1, program, 0xD0, DropAction::ShowText },
        // Names are bytes: Latin-1 and GBK names decide by their ASCII parts.
        { "/t/caf\xe9.bmp", 1, "NULL", -1, DropAction::AdoptAsFigure },
        { "/t/\xce\xc4\xd7\xd6.doc", 0, program, 0xD0, DropAction::OpenDocument },
        { "/t/\xb8\xe8.wav", 0, "NULL", -1, DropAction::PlaySound },
    };
    for (const auto& c : cases) {
        std::vector<std::string> asked;
        const FirstByteReader reader = [&](const std::string& n) {
            asked.push_back(n);
            return c.firstByte;
        };
        EXPECT_EQ(nameOf(dropActionFor(c.name, c.changePicture, c.textProgram, reader)), nameOf(c.expected))
            << c.name;
        // The file is looked into only for a .doc that may go to the program.
        const bool mayOpen = c.expected == DropAction::OpenDocument
            || (c.expected == DropAction::ShowText && c.textProgram != "NULL"
                && (c.name.find(".doc") != std::string::npos || c.name.find(".DOC") != std::string::npos));
        EXPECT_EQ(asked, mayOpen ? std::vector<std::string> { c.name } : std::vector<std::string> {}) << c.name;
    }
}

TEST(DropAction, UriListDecodesToTheNamesBytes)
{
    using Names = std::vector<std::string>;
    const struct {
        const char* what;
        std::string list;
        Names expected;
    } cases[] = {
        { "one file", "file:///tmp/a.txt\r\n", { "/tmp/a.txt" } },
        { "several, LF only, no final line end", "file:///a\nfile:///b", { "/a", "/b" } },
        { "UTF-8 name", "file:///t/%E6%96%87%E5%AD%97.txt\r\n", { "/t/\xe6\x96\x87\xe5\xad\x97.txt" } },
        { "Latin-1 name", "file:///t/caf%E9.txt\r\n", { "/t/caf\xe9.txt" } },
        { "GBK name", "file:///t/%CE%C4%D7%D6.bmp\r\n", { "/t/\xce\xc4\xd7\xd6.bmp" } },
        { "lower-case hex and raw bytes", "file:///t/%e9\xe9 x\r\n", { "/t/\xe9\xe9 x" } },
        { "blank and percent", "file:///my%20pics/100%25.bmp\r\n", { "/my pics/100%.bmp" } },
        { "stray percent stays", "file:///t/50%.txt\r\nfile:///t/%4\r\n", { "/t/50%.txt", "/t/%4" } },
        { "escaped ? and #", "file:///t/a%3Fb%23c\r\n", { "/t/a?b#c" } },
        { "query and fragment cut", "file:///t/a?x=1\r\nfile:///t/b#top\r\n", { "/t/a", "/t/b" } },
        { "localhost and own host", "file://localhost/a\r\nfile://LOCALHOST/b\r\nfile://box/c\r\n",
          { "/a", "/b", "/c" } },
        { "another host", "file://elsewhere/a\r\n", {} },
        { "single-slash form", "file:/a/b\r\n", { "/a/b" } },
        { "scheme in capitals", "FILE:///a\r\n", { "/a" } },
        { "comments and blank lines", "# from a browser\r\n\r\nfile:///a\r\n", { "/a" } },
        { "other schemes", "http://x/a.bmp\r\nsmb://x/a\r\nfile:a\r\n", {} },
        { "zero byte", "file:///t/a%00.txt\r\nfile:///t/b\r\n", { "/t/b" } },
        { "no path", "file://\r\nfile://localhost\r\n", {} },
        { "empty", "", {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(localFilesFromUriList(c.list, "box"), c.expected) << c.what;
}

} // namespace
