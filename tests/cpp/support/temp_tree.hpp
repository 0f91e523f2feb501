#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// A directory under the system's temporary directory, removed with all its contents.
struct TempTree {
    std::filesystem::path root;

    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vornu-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root = pattern;
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    std::string path(std::string_view relative = {}) const {
        return relative.empty() ? root.string() : (root / relative).string();
    }
    std::string write(std::string_view relative, std::string_view content) const {
        const std::filesystem::path file = root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
    std::string mkdir(std::string_view relative) const {
        std::filesystem::create_directories(root / relative);
        return path(relative);
    }
    void symlink(std::string_view target, std::string_view link) const {
        std::filesystem::create_directories((root / link).parent_path());
        std::filesystem::create_symlink(target, root / link);
    }
};
