#include <cstdio>

int main() {
    std::puts("zelm");
    return 0;
}
