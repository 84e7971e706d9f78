// Any bytes as tallynet.ini: the reader must give values or located problems, never crash, and
// a value it reports must come back when looked up again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "directory/client_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    tally::directory::IniFile ini = tally::directory::IniFile::Parse(text, "fuzz.ini");
    for (const std::string& problem : ini.Problems()) {
        if (problem.rfind("fuzz.ini:", 0) != 0) {
            std::abort();
        }
    }
    tally::directory::ClientConfig config =
        tally::directory::ParseClientConfig(text, "/fuzz/tallynet.ini");
    if (!config.storeFolder.empty() && config.storeFolder.is_relative()) {
        std::abort();
    }
    return 0;
}
