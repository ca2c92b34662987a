#pragma once
// A file that replaces another only when it is complete: written beside its
// destination under a temporary name and renamed over it by Commit(). Until
// then the destination stays as it was; a replacement dropped without
// Commit() (an error half-way, an exception) is removed again. A destination
// that is a symbolic link stays one: the file it points to is replaced. A
// destination that is a FIFO, a device or a folder is refused.

#include <cstddef>
#include <cstdio>
#include <string>

namespace devupdate::update {

class CReplacementFile {
public:
    explicit CReplacementFile(std::string destination);
    ~CReplacementFile();
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;

    // Creates the temporary file in the destination's folder. False with
    // `error` naming the operation and errno.
    bool Open(std::string& error);
    // Appends bytes; false with `error` once a write failed (a full disk).
    bool Write(const void* data, size_t size, std::string& error);
    // Flushes, syncs and renames the file over the destination.
    bool Commit(std::string& error);

private:
    void Discard();

    std::string m_destination;
    std::string m_temporary;
    FILE* m_file = nullptr;
};

}  // namespace devupdate::update
