// Writes an executable file that the checker takes for a supported build of the game, for a
// game folder laid out as a player's: the stand-in host becomes a build only once it runs.
// Usage: supported_game_file PATH
#include <cstdio>
#include <fstream>

#include "tests/support/FakeExecutable.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: supported_game_file PATH\n");
        return 2;
    }
    std::ofstream file(argv[1], std::ios::binary);
    file << SupportedGame(110);
    return file.good() ? 0 : 1;
}
