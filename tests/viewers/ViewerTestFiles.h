#pragma once

// A scratch folder for files the viewers are given.

#include <QTemporaryDir>

#include <fstream>
#include <string>

namespace viewertest {

class Scratch {
public:
    std::string path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }

    std::string write(const std::string& name, const std::string& bytes) const
    {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return p;
    }

private:
    QTemporaryDir dir_;
};

} // namespace viewertest
