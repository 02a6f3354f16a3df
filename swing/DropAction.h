#pragma once

#include <functional>
#include <string>
#include <vector>

// What a file dropped on the figure does.
enum class DropAction {
    PlaySound,     // played without waiting
    AdoptAsFigure, // becomes a user picture and the figure
    ShowPicture,   // opens in a picture viewer
    OpenDocument,  // handed to the text program
    ShowText,      // opens in a text viewer
};

// The file's first byte (0..255), or -1 when it cannot be read.
using FirstByteReader = std::function<int(const std::string& name)>;

// Decided by substrings of the whole name (bytes, case-sensitive), in order:
// ".wav"/".WAV" plays; ".bmp"/".BMP" becomes a figure when changePictureOnDrop
// is 1 and is shown otherwise; ".doc"/".DOC" goes to textProgram when one is set
// (not "NULL") and the file starts with 0xD0, the compound-document signature;
// anything else is shown as text. firstByte is asked only for such a .doc.
DropAction dropActionFor(const std::string& name, int changePictureOnDrop, const std::string& textProgram,
                         const FirstByteReader& firstByte);

// The local file names in a text/uri-list (the bytes a drop carries), in
// order: each file: URI with no host, "localhost" or localHost, its path
// percent-decoded to the bytes it stands for, whatever their encoding. Comment
// lines, other schemes, other hosts and names with a zero byte are left out.
std::vector<std::string> localFilesFromUriList(const std::string& uriList, const std::string& localHost);

// A picture's default display name: the text after the last '/', the whole
// path when it has none, empty when the path ends with '/'.
std::string displayNameFromPath(const std::string& path);
