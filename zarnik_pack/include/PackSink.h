// Where a pack file's bytes go, front to back: memory, or a file being
// written through the library's file layer.
#pragma once

#include "Bytes.h"
#include "PlatformFile.h"

#include <cstddef>
#include <cstdint>

namespace zarnik_pack {

// After the first failure every call fails, so a writer may go on and
// check once at the end.
class PackSink
{
public:
    virtual ~PackSink() = default;
    bool Append(const unsigned char *data, size_t size);
    bool Append(const Bytes &bytes) { return Append(bytes.data(), bytes.size()); }
    // Appends `count` bytes of `source` from `offset` on, as they are.
    bool AppendFrom(zarnik::PlatformFile *source, uint64_t offset, uint64_t count);
    // Writes over bytes appended before, from `at` on.
    bool Overwrite(uint64_t at, const unsigned char *data, size_t size);
    // Bytes appended so far.
    uint64_t Size() const { return m_Size; }
    bool Failed() const { return m_Failed; }
    // Why the failed call failed; kind None when the sink itself refused
    // (an overwrite past the end) or a copy's source ended early.
    const zarnik::PlatformFailure &Failure() const { return m_Failure; }
    // True when the failure was AppendFrom's source: it could not be read
    // or ended early.
    bool SourceFailed() const { return m_SourceFailed; }

protected:
    virtual bool DoAppend(const unsigned char *data, size_t size) = 0;
    virtual bool DoOverwrite(uint64_t at, const unsigned char *data, size_t size) = 0;
    // Returns the number of bytes copied. By default through a buffer.
    virtual uint64_t DoAppendFrom(zarnik::PlatformFile *source, uint64_t offset, uint64_t count);
    void SetFailure(const zarnik::PlatformFailure &failure, bool source = false)
    {
        m_Failure = failure;
        m_SourceFailed = source;
    }

private:
    bool Note(bool succeeded, uint64_t appended);

    uint64_t m_Size = 0;
    bool m_Failed = false;
    zarnik::PlatformFailure m_Failure;
    bool m_SourceFailed = false;
};

class MemorySink : public PackSink
{
public:
    const Bytes &Contents() const { return m_Bytes; }
    Bytes Take() { return std::move(m_Bytes); }

protected:
    bool DoAppend(const unsigned char *data, size_t size) override;
    bool DoOverwrite(uint64_t at, const unsigned char *data, size_t size) override;

private:
    Bytes m_Bytes;
};

// A file open for writing (see OutputFile for one written whole or not at
// all); copies go through the file layer's in-kernel copy where there is one.
class FileSink : public PackSink
{
public:
    // Without a file (one that could not be created) every call fails.
    explicit FileSink(zarnik::PlatformFile *file) : m_File(file) {}

protected:
    bool DoAppend(const unsigned char *data, size_t size) override;
    bool DoOverwrite(uint64_t at, const unsigned char *data, size_t size) override;
    uint64_t DoAppendFrom(zarnik::PlatformFile *source, uint64_t offset, uint64_t count) override;

private:
    zarnik::PlatformFile *m_File;
};

} // namespace zarnik_pack
