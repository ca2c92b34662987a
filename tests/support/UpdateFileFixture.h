#pragma once
// Update files for tests: written into a fresh temporary folder, either as
// literal bytes or through the update-file writer.

#include "UpdateFileWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class CTempFolder {
public:
    CTempFolder()
    {
        char pattern[] = "/tmp/update-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = made;
    }
    ~CTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::string& Path() const { return m_path; }

    std::string Write(const std::string& name, const std::string& bytes) const
    {
        const std::string path = m_path + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }

private:
    std::string m_path;
};

inline std::vector<uint8_t> MakeBytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}
