#include "HeapReport.h"

#include "DumpLog.h"
#include "DumpSettings.h"

#include <windows.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

constexpr unsigned long long MaxBytesShown = 128;
constexpr std::size_t BytesPerRow = 16;
// What the memory rows show for a byte outside 0x20..0xA6 (a middle dot in the ANSI page).
constexpr char Unprintable = static_cast<char>(0xB7);

// An address as the Microsoft runtime's %p writes it: upper-case hexadecimal, all digits.
struct AddressText
{
    explicit AddressText(const void* address)
    {
        std::snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof address),
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
    }

    char text[2 * sizeof(void*) + 1];
};

const char* StatusName(int status)
{
    switch (status) {
    case _HEAPBADNODE:
        return "Error - Bad node";
    case _HEAPBADBEGIN:
        return "Error - Bad start";
    case _HEAPEMPTY:
        return "Empty";
    default:
        return "";
    }
}

} // namespace

HeapReport::HeapReport(const DumpSettings& settings, bool loggingOn)
    : m_settings(settings), m_loggingOn(loggingOn)
{
}

void HeapReport::Write() const
{
    DUMP_LOG(m_loggingOn, "Heap information:\n");
    const bool everyBlock = m_settings.Read("DumpAllHeapBlocks") != 0;

    _HEAPINFO entry{};
    int status;
    Block last, beforeLast;
    unsigned blocks = 0, used = 0, unused = 0;
    unsigned long long totalSize = 0;
    while ((status = _heapwalk(&entry)) == _HEAPOK) {
        // A walk that does not move on would never end.
        if (entry._pentry == last.address) {
            status = _HEAPBADNODE;
            break;
        }
        const bool inUse = entry._useflag == _USEDENTRY;
        if (everyBlock)
            DUMP_LOG(m_loggingOn, "%6s block at %s of size %4.4llX\n", inUse ? "USED" : "FREE",
                     AddressText(entry._pentry).text, static_cast<unsigned long long>(entry._size));
        ++(inUse ? used : unused);
        totalSize += entry._size;
        ++blocks;
        beforeLast = last;
        last = {entry._pentry, entry._size};
    }
    DUMP_LOG(m_loggingOn, "Heap status: {%d} '%s' [Blocks:%u, Used:%u, Free:%u, TotalSize:%llu]\n", status,
             StatusName(status), blocks, used, unused, totalSize);

    if (status != _HEAPBADNODE) {
        DUMP_LOG(m_loggingOn, "Number of remaining heap blocks: %u\n", blocks);
        return;
    }
    if (last.size != 0)
        DUMP_LOG(m_loggingOn, "Memory Dump:\n");
    DumpMemory(last);
    DUMP_LOG(m_loggingOn, "\nMemory Dump:\n");
    DumpMemory(beforeLast);
}

void HeapReport::DumpMemory(const Block& block) const
{
    const auto* start = static_cast<const unsigned char*>(block.address);
    const auto shown = static_cast<std::size_t>(std::min(block.size, MaxBytesShown));
    for (std::size_t offset = 0; offset < shown; offset += BytesPerRow) {
        // The block may lie in memory that is gone: read it through the system, not directly.
        unsigned char row[BytesPerRow];
        const std::size_t count = std::min(BytesPerRow, shown - offset);
        SIZE_T read = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), start + offset, row, count, &read) || read != count)
            return;
        DUMP_LOG(m_loggingOn, "%s\t", AddressText(start + offset).text);
        for (std::size_t i = 0; i < count; ++i)
            DUMP_LOG(m_loggingOn, "%02X ", row[i]);
        DUMP_LOG(m_loggingOn, "\t");
        for (std::size_t i = 0; i < count; ++i)
            DUMP_LOG(m_loggingOn, "%c", row[i] >= 0x20 && row[i] <= 0xA6 ? static_cast<char>(row[i]) : Unprintable);
        DUMP_LOG(m_loggingOn, "\n");
    }
}
