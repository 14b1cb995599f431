#pragma once
// A temporary folder for one test, removed afterwards.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

class TestDir {
public:
    explicit TestDir(const std::string &name)
    {
        static int counter = 0;
        m_path = std::filesystem::temp_directory_path() /
                 ("velmor-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TestDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path &path() const { return m_path; }
    std::string file(const std::string &name) const { return (m_path / name).string(); }

    static std::string Read(const std::filesystem::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    std::filesystem::path m_path;
};
