// Owners for the C library's handles, so that every path out of a function releases them.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

using UniqueDir = std::unique_ptr<DIR, decltype([](DIR* dir) { ::closedir(dir); })>;
using UniqueFile = std::unique_ptr<FILE, decltype([](FILE* file) { std::fclose(file); })>;
using UniqueLibrary = std::unique_ptr<void, decltype([](void* library) { ::dlclose(library); })>;

// A file written beside its destination and renamed over it: removed again unless committed.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!committed_) {
            (void)::unlink(path_.c_str());
        }
    }

    const std::string& path() const { return path_; }
    // Renames it over `destination`; false (errno set) when that failed, and it is then removed.
    bool commit(const std::string& destination) {
        committed_ = std::rename(path_.c_str(), destination.c_str()) == 0;
        return committed_;
    }

  private:
    std::string path_;
    bool committed_ = false;
};
