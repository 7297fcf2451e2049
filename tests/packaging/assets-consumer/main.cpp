// assets-consumer ASSETS_DIR NAME...: reads each NAME.enc from the resources folder beside the
// program and compares it with ASSETS_DIR/NAME. Exits 0 when every asset reads back unchanged.

#include <Key/CorvixUtils.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: assets-consumer ASSETS_DIR NAME...\n";
        return 2;
    }
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        std::ifstream plain(std::string(argv[1]) + "/" + name, std::ios::binary);
        const std::string expected{std::istreambuf_iterator<char>(plain), {}};
        const auto text = corvix::CorvixUtils::decryptResourceText(name + ".enc");
        const bool same = plain && text && *text == expected;
        std::cout << (same ? "ok " : "FAILED ") << name << '\n';
        failures += same ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
