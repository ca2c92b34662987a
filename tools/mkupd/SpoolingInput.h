#pragma once
// The SVF converter reads its input twice (sizes first, then the scans). A
// pipe cannot go back, so CSpoolingInput keeps what it reads from one in an
// unlinked temporary file and, on a seek back to the start, reads that copy
// instead. The first pass still refuses a bad input as it reads, so nothing
// endless is copied before the refusal.

#include <istream>
#include <streambuf>
#include <string>

namespace devupdate::mkupd {

class CSpoolingBuffer final : public std::streambuf {
public:
    CSpoolingBuffer() = default;
    ~CSpoolingBuffer() override;
    CSpoolingBuffer(const CSpoolingBuffer&) = delete;
    CSpoolingBuffer& operator=(const CSpoolingBuffer&) = delete;

    // Opens the input and the copy in TMPDIR (else /tmp). False with the
    // reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Why reading or copying failed; empty while nothing did.
    const std::string& Error() const { return m_error; }

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    bool CopyOut(const char* data, size_t size);

    int m_source = -1;
    int m_copy = -1;
    bool m_replaying = false;
    std::string m_error;
    char m_buffer[64 * 1024];
};

class CSpoolingInput final : public std::istream {
public:
    CSpoolingInput() : std::istream(&m_buffer) {}
    bool Open(const std::string& path, std::string& error) { return m_buffer.Open(path, error); }
    const std::string& Error() const { return m_buffer.Error(); }

private:
    CSpoolingBuffer m_buffer;
};

}  // namespace devupdate::mkupd
