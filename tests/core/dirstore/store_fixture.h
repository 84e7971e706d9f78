// A scratch store folder for tests: the real schema, a small tree, an empty journal.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tally::store::testing {

// The small tree every store test starts from:
//   CORP (Organization)
//     ADMIN (User, balance 0)       EVERYONE (Group: ADMIN, JSMITH.SALES)
//     SALES (Organizational Unit)
//       JSMITH (User, balance 1500, limit -500)     AJONES (User, no account attributes)
inline constexpr std::string_view kSmallTree = R"(dn: o=CORP
objectClass: organization
o: CORP

dn: cn=ADMIN,o=CORP
objectClass: tallyUser
cn: ADMIN
fullName: Network Administrator
accountBalance: 0

dn: cn=EVERYONE,o=CORP
objectClass: tallyGroup
cn: EVERYONE
member: cn=ADMIN,o=CORP
member: cn=JSMITH,ou=SALES,o=CORP

dn: ou=SALES,o=CORP
objectClass: organizationalUnit
ou: SALES

dn: cn=JSMITH,ou=SALES,o=CORP
objectClass: tallyUser
cn: JSMITH
fullName: John Smith
accountBalance: 1500
minimumAccountBalance: -500
allowUnlimitedCredit: FALSE
description: kept as it is

dn: cn=AJONES,ou=SALES,o=CORP
objectClass: tallyUser
cn: AJONES

)";

// A fresh, empty folder under the system's temporary folder; removed by the destructor.
class ScratchFolder {
  public:
    explicit ScratchFolder(std::string_view tag);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The schema file of the source tree (as a Windows path under Wine).
std::filesystem::path SchemaFile();
std::string ReadText(const std::filesystem::path& file);
void WriteText(const std::filesystem::path& file, std::string_view text);
void AppendText(const std::filesystem::path& file, std::string_view text);
// Lays schema.ldif, directory.ldif (`tree`) and an empty journal.ldif into `folder`.
void LayStore(const std::filesystem::path& folder, std::string_view tree = kSmallTree);

}  // namespace tally::store::testing
