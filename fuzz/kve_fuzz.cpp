// libFuzzer target: every input is a host session decoded by fuzz/harness.h.
// Any fault the host can see aborts; the sanitizers catch the rest.
//
// `kve_fuzz --write-seeds=DIR` writes the seed corpus (every effect of the
// table with its example command) into DIR and exits.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    constexpr const char kFlag[] = "--write-seeds=";
    for (int i = 1; i < *argc; ++i) {
        const char *arg = (*argv)[i];
        if (std::strncmp(arg, kFlag, sizeof kFlag - 1) != 0) continue;
        const std::filesystem::path dir(arg + sizeof kFlag - 1);
        std::filesystem::create_directories(dir);
        int count = 0;
        for (const auto &[name, bytes] : kve::fuzz::Seeds()) {
            std::ofstream(dir / name, std::ios::binary) << bytes;
            ++count;
        }
        std::printf("wrote %d seeds to %s\n", count, dir.c_str());
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string problems = kve::fuzz::Run(data, size);
    if (!problems.empty()) {
        std::fprintf(stderr, "kve_fuzz fault:\n%s", problems.c_str());
        std::abort();
    }
    return 0;
}
