#pragma once
// A temporary folder for one fuzzing process, made on first use and removed
// with everything in it when the process ends.

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "fuzz_input.h"

namespace ostrel::fuzz {

inline const std::filesystem::path& scratchFolder() {
    struct Folder {
        Folder() {
            std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-fuzz-XXXXXX").string();
            if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a temporary folder");
            path = pattern;
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    };
    static const Folder folder;
    return folder.path;
}

}  // namespace ostrel::fuzz
