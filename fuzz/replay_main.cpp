// Runs a fuzz target over files and directories of inputs (or once over an
// empty input), so that the seed corpus is a plain regression test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int run_file(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    LLVMFuzzerTestOneInput(nullptr, 0);
    int failures = 0;
    size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    failures += run_file(entry.path());
                    ++inputs;
                }
            }
        } else {
            failures += run_file(arg);
            ++inputs;
        }
    }
    std::printf("replayed %zu inputs\n", inputs + 1);
    return failures == 0 ? 0 : 1;
}
