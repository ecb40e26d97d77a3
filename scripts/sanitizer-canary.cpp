// Commits one planted fault, named by its argument, and must be stopped by a
// sanitizer report before it prints "not caught".
//   past-block     reads one element past a vector whose capacity is its size
//   past-size      reads one element past a vector's size, inside its capacity
//                  (seen only with the vector annotations)
//   signed         overflows a signed int
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    // The values come through a volatile so that the compiler cannot fold them away.
    volatile int one = 1;
    volatile int big = INT_MAX;
    int result = 0;
    if (std::strcmp(argv[1], "past-block") == 0) {
        std::vector<unsigned char> m(11, 0xF7);
        result = m.data()[m.size() - 1 + one];
    } else if (std::strcmp(argv[1], "past-size") == 0) {
        std::vector<unsigned char> m(11, 0xF7);
        m.reserve(64);
        result = m.data()[m.size() - 1 + one];
    } else if (std::strcmp(argv[1], "signed") == 0) {
        result = big + one;
    } else {
        return 2;
    }
    std::printf("not caught: %d\n", result);
    return 0;
}
