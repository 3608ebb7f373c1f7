// Runs a fuzz target over every file of the corpus directories given on the
// command line, as libFuzzer replays a corpus, so that the ordinary build and
// its sanitizers check the committed inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return std::fprintf(stderr, "cannot read %s\n", path.c_str()), 1;
        // A copy of exactly the input's size, so that reading past it is caught.
        const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    LLVMFuzzerTestOneInput(nullptr, 0); // the empty input always runs too
    std::printf("replayed %zu inputs\n", paths.size());
    return paths.empty() ? 1 : 0;
}
