#pragma once

class DumpSettings;

// Logs a summary of the runtime library's heap after a crash: block counts and sizes, each
// block when "DumpAllHeapBlocks" is set, and, when the walk meets a bad node, the first
// bytes of the last two blocks it walked.
class HeapReport
{
public:
    HeapReport(const DumpSettings& settings, bool loggingOn);
    void Write() const;

private:
    struct Block
    {
        const void* address = nullptr;
        unsigned long long size = 0;
    };

    // Up to 128 bytes of the block, 16 to a row; a row that cannot be read ends it.
    void DumpMemory(const Block& block) const;

    const DumpSettings& m_settings;
    bool m_loggingOn;
};
