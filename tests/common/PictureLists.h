#pragma once

#include "settings/UserPictures.h"

#include <string>
#include <vector>

// The paths and the names of the user's pictures, in order, to compare with
// what a test expects.
inline std::vector<std::string> picturePaths(const UserPictures& pictures)
{
    std::vector<std::string> out;
    for (const UserPicture& p : pictures)
        out.push_back(p.path);
    return out;
}

inline std::vector<std::string> pictureNames(const UserPictures& pictures)
{
    std::vector<std::string> out;
    for (const UserPicture& p : pictures)
        out.push_back(p.name);
    return out;
}
