// A program that logs and returns from main without Shutdown, as a careless user would.
// It must still end promptly and cleanly: natively the queued line is written when the
// library goes; on Windows the library must not wait for the writer thread that the
// system has already ended.
//
//   logging_exit_probe write <file>   logs one line and returns
//   logging_exit_probe check <file>   succeeds when that line is in the file
#include "KZBLogThis.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string marker = "left without Shutdown";
    if (std::strcmp(argv[1], "write") == 0) {
        std::remove(argv[2]);
        Setup(argv[2], kzb::logging::ThisModule());
        KZB_LOG(kzb::logging::LEVEL_ERROR, "%s", marker.c_str());
        return 0;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find(marker) != std::string::npos ? 0 : 1;
}
