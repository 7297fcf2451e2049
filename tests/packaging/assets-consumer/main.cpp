// assets-consumer ASSETS_DIR NAME...: reads each NAME.enc from the resources folder beside the
// program and compares it with ASSETS_DIR/NAME. Exits 0 when every asset reads back unchanged.
// Built with CONSUMER_HAS_APP_KEY, it reads with the app's own key material. It includes every
// installed header, each of which must build on its own.

#include <corvix/AESUtils.h>
#include <corvix/Bytes.h>
#include <corvix/CorvixKey.h>
#include <corvix/CorvixUtils.h>
#include <corvix/DecryptingStreamBuf.h>
#include <corvix/EncryptedFileDevice.h>
#include <corvix/EncryptedFileReader.h>
#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <corvix/Version.h>
#ifdef CONSUMER_HAS_APP_KEY
#include "CorvixAppKey.h"
#endif
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
#ifdef CONSUMER_HAS_APP_KEY
        const auto text = corvix::CorvixUtils::decryptResourceText(name + ".enc", corvixAppKey());
#else
        const auto text = corvix::CorvixUtils::decryptResourceText(name + ".enc");
#endif
        const bool same = plain && text && *text == expected;
        std::cout << (same ? "ok " : "FAILED ") << name << '\n';
        failures += same ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
