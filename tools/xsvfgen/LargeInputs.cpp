#include "LargeInputs.h"

#include "UpdateFileWriter.h"
#include "XsvfWriter.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace devupdate::xsvfgen {

namespace {

class CFileOut {
public:
    explicit CFileOut(const std::string& path) : m_path(path), m_file(std::fopen(path.c_str(), "wb"))
    {
        if (m_file == nullptr)
            throw std::runtime_error("fopen " + path + ": " + std::strerror(errno));
    }
    ~CFileOut()
    {
        if (m_file != nullptr)
            std::fclose(m_file);
    }
    CFileOut(const CFileOut&) = delete;
    CFileOut& operator=(const CFileOut&) = delete;

    void Put(const void* data, size_t size)
    {
        if (std::fwrite(data, 1, size, m_file) != size)
            throw std::runtime_error("fwrite " + m_path + ": " + std::strerror(errno));
        m_written += size;
    }
    void Put(const std::string& text) { Put(text.data(), text.size()); }
    void Put(const std::vector<uint8_t>& bytes) { Put(bytes.data(), bytes.size()); }
    uint64_t Written() const { return m_written; }
    void Close()
    {
        FILE* file = m_file;
        m_file = nullptr;
        if (std::fclose(file) != 0)
            throw std::runtime_error("fclose " + m_path + ": " + std::strerror(errno));
    }

private:
    std::string m_path;
    FILE* m_file;
    uint64_t m_written = 0;
};

class CPseudoRandom {
public:
    uint8_t Byte()
    {
        m_seed = m_seed * 1664525u + 1013904223u;
        return static_cast<uint8_t>(m_seed >> 24);
    }
    std::string Hex(size_t digits)
    {
        static const char HEX[] = "0123456789ABCDEF";
        std::string text(digits, '0');
        for (char& c : text)
            c = HEX[Byte() & 0x0F];
        return text;
    }

private:
    uint32_t m_seed = 12345;
};

constexpr size_t ROW_BITS = 8192;
constexpr size_t LONG_ROW_BITS = 200000;  // more than one XSVF shift carries

}  // namespace

void WriteLargeSvf(const std::string& path, uint64_t bytes)
{
    CFileOut out(path);
    CPseudoRandom random;
    out.Put("! generated for the benchmark\nTRST OFF;\nENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\nSTATE IDLE;\n");
    const std::string ones(ROW_BITS / 4, 'F');
    for (unsigned row = 0; out.Written() < bytes; ++row) {
        const std::string data = random.Hex(ROW_BITS / 4);
        out.Put("SIR 8 TDI (" + random.Hex(2) + ");\nRUNTEST 100 TCK;\n");
        out.Put("SDR " + std::to_string(ROW_BITS) + " TDI (" + data + ");\nRUNTEST 1.0E-3 SEC;\n");
        out.Put("SDR " + std::to_string(ROW_BITS) + " TDI (" + ones + ") TDO (" + data + ") MASK (" + ones +
                ");\n");
        if (row % 64 == 63)
            out.Put("SDR " + std::to_string(LONG_ROW_BITS) + " TDI (" + random.Hex(LONG_ROW_BITS / 4) + ");\n");
    }
    out.Put("RUNTEST 10 TCK;\nSTATE RESET;\n");
    out.Close();
}

void WriteLargeXsvfUpdateFile(const std::string& path, uint64_t bytes)
{
    CPseudoRandom random;
    CXsvfWriter writer;
    writer.Repeat(0).SdrSize(1024);
    while (writer.Stream().size() < bytes) {
        Bytes tdi(128), expected(128);
        for (size_t i = 0; i < tdi.size(); ++i) {
            tdi[i] = random.Byte();
            expected[i] = random.Byte();
        }
        writer.Sir(8, {random.Byte()}).RunTest(100).SdrTdo(tdi, expected).Sdr(tdi);
        if (writer.Stream().size() % 4096 < 300)
            writer.Comment("row written and verified");
    }
    writer.Complete();
    mkupd::SUpdateFile file;
    mkupd::SUpdateTarget target;
    target.name = "large XSVF";
    target.type = mkupd::TYPE_XSVF;
    target.data = writer.Stream();
    file.targets.push_back(std::move(target));
    CFileOut out(path);
    out.Put(mkupd::WriteUpdateFile(file));
    out.Close();
}

void WriteLargeFirmwareUpdateFile(const std::string& path, uint64_t bytes)
{
    CPseudoRandom random;
    std::vector<uint8_t> image(bytes);
    for (uint8_t& b : image)
        b = random.Byte();
    mkupd::SUpdateFile file;
    mkupd::SUpdateTarget target;
    target.name = "large firmware";
    target.data = mkupd::MakeFirmwareBlocks(image, 998, false);
    image = {};
    file.targets.push_back(std::move(target));
    CFileOut out(path);
    out.Put(mkupd::WriteUpdateFile(file));
    out.Close();
}

}  // namespace devupdate::xsvfgen
