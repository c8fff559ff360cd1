// Replay driver for fuzz targets in builds without libFuzzer: feeds every file
// named on the command line (directories are walked) to the target once, so the
// seed corpus and every crash that became a file run as an ordinary test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void RunFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Copy into an exactly sized heap block so AddressSanitizer sees any overread.
    auto* buf = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), buf);
    LLVMFuzzerTestOneInput(buf, bytes.size());
    delete[] buf;
}

int main(int argc, char** argv) {
    size_t n = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) { RunFile(e.path()); ++n; }
        } else {
            RunFile(p);
            ++n;
        }
    }
    std::printf("replayed %zu inputs\n", n);
    return 0;
}
