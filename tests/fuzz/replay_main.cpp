// Runs a fuzz target's entry point once over every file found in the folders
// named on the command line (the target's kept corpus and the generated
// fixtures), so that regressions are caught by the ordinary test run without
// libFuzzer. A folder that is missing fails the run: a wrong path would
// otherwise replay nothing and pass.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    int files = 0;
    for (int i = 1; i < argc; i++) {
        std::error_code error;
        if (!std::filesystem::is_directory(argv[i], error)) {
            std::fprintf(stderr, "no corpus folder %s\n", argv[i]);
            return 1;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i], error)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            files++;
        }
    }
    std::printf("replayed %d inputs\n", files);
    return 0;
}
