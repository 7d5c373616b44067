// Linked into each program as an object of its own: the crash dump writer is installed while
// the program loads, before every other global object of the program (the application
// object included) is constructed.
#include "MiniDumper.h"

namespace {

struct MiniDumperInstaller
{
    MiniDumperInstaller()
    {
        MiniDumper::Install();
    }
};

MiniDumperInstaller g_miniDumperInstaller __attribute__((init_priority(101)));

} // namespace
