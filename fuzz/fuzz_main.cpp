// Replays a corpus through LLVMFuzzerTestOneInput where libFuzzer is not
// used: every regular file in each folder (or each file) given as argument.
// A failed invariant aborts, which fails the run, and so does a target that
// ends the process (libFuzzer reports that as a crash too).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool insideTarget = false;

void exitInsideTarget() {
    if (insideTarget) {
        std::fprintf(stderr, "the fuzz target ended the process\n");
        std::_Exit(1);
    }
}

void runTarget(const std::uint8_t* data, std::size_t size) {
    insideTarget = true;
    LLVMFuzzerTestOneInput(data, size);
    insideTarget = false;
}

bool replayFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    runTarget(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::atexit(exitInsideTarget);
    std::size_t replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path target(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(target, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(target, error)) {
                if (!entry.is_regular_file()) continue;
                ok = replayFile(entry.path()) && ok;
                ++replayed;
            }
        } else if (std::filesystem::is_regular_file(target, error)) {
            ok = replayFile(target) && ok;
            ++replayed;
        } else {
            std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
            ok = false;
        }
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            ok = false;
        }
    }
    // Empty input runs too, so an empty corpus still exercises the target.
    runTarget(nullptr, 0);
    std::printf("replayed %zu inputs\n", replayed);
    return ok && replayed > 0 ? 0 : 1;
}
