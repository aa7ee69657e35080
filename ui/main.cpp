#include <cstdio>

int main() {
    std::puts("Quillmoor v2.0");
    return 0;
}
