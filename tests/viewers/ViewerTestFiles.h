#pragma once

// A scratch folder for files the viewers are given.

#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace viewertest {

class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    // QTemporaryDir cannot remove names that are not in the locale's
    // encoding (they are tested on purpose), so the files go by their bytes.
    ~Scratch()
    {
        for (const std::string& p : written_)
            std::remove(p.c_str());
    }

    std::string path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }

    std::string write(const std::string& name, const std::string& bytes) const
    {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        written_.push_back(p);
        return p;
    }

private:
    QTemporaryDir dir_;
    mutable std::vector<std::string> written_; // write() is used on const scratch folders
};

} // namespace viewertest
