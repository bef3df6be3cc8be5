#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

inline int scratch_process_id() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// A fresh directory, made the current directory for the length of one test,
// since the launcher works relative to the directory it was started from.
class scratch_dir_test : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + " " + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        previous_ = std::filesystem::current_path();
        // The process's own: the same test may run at once from another build tree.
        root_ = std::filesystem::temp_directory_path() / "launcher unit" /
                (name + " " + std::to_string(scratch_process_id()));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        std::filesystem::current_path(root_);
    }

    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    static void write_file(const std::filesystem::path& path, const std::string& content) {
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << content;
    }

    static std::string read_file(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path root_;

private:
    std::filesystem::path previous_;
};
