// Manifests from untrusted bytes, as an app reads them from its resources: parsing fails only
// as a malformed manifest, and a manifest that parses is written back to a text that parses to
// the same manifest, signed bytes and all.

#include "Fuzz.h"

#include <corvix/Manifest.h>
#include <string_view>

using namespace corvix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed =
        Manifest::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    require(parsed || parsed.error().code == Errc::malformedManifest);
    if (parsed) {
        const auto again = Manifest::parse(parsed->text());
        require(again && again->text() == parsed->text() &&
                again->signedBytes() == parsed->signedBytes());
    }
    return 0;
}
