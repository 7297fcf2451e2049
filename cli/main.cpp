// corvix-cli: encrypts and decrypts files in the Corvix format from scripts.

#include "Crypto/FileCipher.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"

#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kAllSucceeded = 0;
constexpr int kSomeFailed = 1;
constexpr int kBadUsage = 2;

const char* const kHeaderText = "quorveth";
const char* const kUsage = R"(usage:
  corvix-cli encrypt [-o DIR] FILE...   write each FILE to DIR/NAME.enc
  corvix-cli decrypt [-o DIR] FILE...   write each NAME.enc back to DIR/NAME
  corvix-cli key                        print the built-in AES key and IV in hex
  corvix-cli --help                     show this help

Without -o, each output goes to the folder of its input. An existing output is replaced,
and only once the new one is complete.

exit status: 0 every file succeeded, 1 some file failed, 2 bad usage
)";

int usageError(const std::string& message) {
    std::cerr << "corvix-cli: " << message << "\n" << kUsage;
    return kBadUsage;
}

std::filesystem::path outputFolder(const std::string& option, const std::filesystem::path& input) {
    if (!option.empty()) {
        return option;
    }
    return input.has_parent_path() ? input.parent_path() : ".";
}

bool processFile(const std::string& command, const std::string& input, const std::string& folder) {
    const std::filesystem::path source(input);
    const std::string name = source.filename().string();
    const corvix::Bytes key = corvix::CorvixKey::aesKey();
    const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    corvix::RunOutcome outcome;
    if (command == "encrypt") {
        const auto target = outputFolder(folder, source) / (name + ".enc");
        outcome = corvix::FileCipher::encrypt(input, target.string(), kHeaderText, key, iv);
    } else {
        const std::string suffix = ".enc";
        if (name.size() <= suffix.size() || !name.ends_with(suffix)) {
            outcome = corvix::RunOutcome::failed("name does not end in .enc, so there is no name to give the output");
        } else {
            const auto target = outputFolder(folder, source) / name.substr(0, name.size() - suffix.size());
            outcome = corvix::FileCipher::decrypt(input, target.string(), key, iv);
        }
    }
    if (!outcome.succeeded()) {
        std::cerr << "corvix-cli: " << input << ": " << outcome.reason << "\n";
    }
    return outcome.succeeded();
}

} // namespace

int main(int argc, char** argv) {
    // A file-size limit should fail a write with EFBIG, not kill the process.
    std::signal(SIGXFSZ, SIG_IGN);

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usageError("no command given");
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kAllSucceeded;
    }
    if (command == "key") {
        if (args.size() != 1) {
            return usageError("key takes no arguments");
        }
        std::cout << "key:" << corvix::CorvixKey::aesKeyHex() << "\n"
                  << "iv:" << corvix::hexText(corvix::CorvixKey::ivBytes()) << "\n";
        return kAllSucceeded;
    }
    if (command != "encrypt" && command != "decrypt") {
        return usageError("unknown command '" + command + "'");
    }

    std::string folder;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "-o") {
            if (i + 1 == args.size()) {
                return usageError("-o needs a folder");
            }
            folder = args[++i];
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        return usageError(command + " needs at least one file");
    }

    bool allSucceeded = true;
    for (const std::string& file : files) {
        allSucceeded = processFile(command, file, folder) && allSucceeded;
    }
    return allSucceeded ? kAllSucceeded : kSomeFailed;
}
