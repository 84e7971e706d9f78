#include "program/version.h"

#include "tally_version.h"

const ProgramVersion& BuildVersion() {
    static constexpr ProgramVersion kVersion{TALLY_VERSION_MAJOR,    TALLY_VERSION_MINOR,
                                             TALLY_VERSION_REVISION, TALLY_VERSION_LETTER,
                                             TALLY_VERSION_BUILD,    TALLY_VERSION_TEXT};
    return kVersion;
}
