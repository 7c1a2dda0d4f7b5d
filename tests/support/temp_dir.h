// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <vector>

struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const;
};

bool fileExists(const std::string& path);

// Names of the entries of any directory, sorted.
std::vector<std::string> directoryEntries(const std::string& path);
