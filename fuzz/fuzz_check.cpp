#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"

namespace ostrel::fuzz {

void fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

}  // namespace ostrel::fuzz
