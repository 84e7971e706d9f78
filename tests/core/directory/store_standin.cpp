// Stand-ins for the store's out-of-line functions that dirstore/ does not define yet (CMake
// turns each on by its flag), so that the client's tests run against the fake store meanwhile.
#include "dirstore/store.h"
#include <cctype>

namespace tally::store {

#ifdef TALLY_STANDIN_LESS
bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) {
            return ca < cb;
        }
    }
    return a.size() < b.size();
}

#endif

#ifdef TALLY_STANDIN_DESCRIBE
std::string Problem::describe() const {
    return file.string() + ":" + std::to_string(line) + ": " + message;
}

#endif

#ifdef TALLY_STANDIN_OPEN
std::unique_ptr<Store> Store::open(const std::filesystem::path& folder, Problem* problem) {
    if (problem != nullptr) {
        *problem = Problem{folder, 0, "no store is built into this test"};
    }
    return nullptr;
}

#endif

}  // namespace tally::store
