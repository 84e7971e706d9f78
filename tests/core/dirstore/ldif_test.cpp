#include <gtest/gtest.h>

#include <random>

#include "dirstore/journal.h"
#include "dirstore/ldif.h"

namespace tally::store {
namespace {

std::vector<LdifRecord> ParseOk(std::string_view text) {
    std::vector<LdifRecord> records;
    Problem problem;
    EXPECT_TRUE(ParseLdif(text, "in.ldif", 1, records, &problem)) << problem.Describe();
    return records;
}

Problem ParseBad(std::string_view text, int firstLine = 1) {
    std::vector<LdifRecord> records;
    Problem problem;
    EXPECT_FALSE(ParseLdif(text, "in.ldif", firstLine, records, &problem)) << text;
    return problem;
}

TEST(Ldif, ContentRecordsWithFoldingBase64CommentsAndVersion) {
    auto records = ParseOk(
        "version: 1\n"
        "# a comment\n"
        "#  that goes on\n"
        " over a continuation line\n"
        "dn: cn=JSMITH,ou=SALES,\r\n"
        " o=CORP\r\n"
        "objectClass: tallyUser\n"
        "fullName:: IEpvaG4gU21pdGg=\n"
        "cardSerial:\n"
        "\n\n"
        "dn: o=CORP\n"
        "o: CORP\n");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, RecordKind::Content);
    EXPECT_EQ(records[0].dn, "cn=JSMITH,ou=SALES,o=CORP");
    EXPECT_EQ(records[0].line, 5);
    ASSERT_EQ(records[0].values.size(), 3u);
    EXPECT_EQ(records[0].values[1].value, " John Smith");
    EXPECT_EQ(records[0].values[1].line, 8);
    EXPECT_EQ(records[0].values[2].value, "");
    EXPECT_EQ(records[1].line, 12);
}

TEST(Ldif, ChangeRecords) {
    auto records = ParseOk(
        "dn: cn=JSMITH,o=CORP\n"
        "changetype: modify\n"
        "increment: accountBalance\n"
        "accountBalance: -25\n"
        "-\n"
        "replace: fullName\n"
        "fullName: J. Smith\n"
        "-\n"
        "delete: minimumAccountBalance\n"
        "-\n"
        "add: member\n"
        "member: cn=A,o=CORP\n"
        "member: cn=B,o=CORP\n"
        "\n"
        "dn: cn=NEW,o=CORP\n"
        "changetype: add\n"
        "objectClass: tallyUser\n"
        "cn: NEW\n");
    ASSERT_EQ(records.size(), 2u);
    const auto& mods = records[0].mods;
    ASSERT_EQ(mods.size(), 4u);
    EXPECT_EQ(mods[0].op, ModOp::Increment);
    EXPECT_EQ(mods[0].values, std::vector<std::string>{"-25"});
    EXPECT_EQ(mods[1].op, ModOp::Replace);
    EXPECT_EQ(mods[2].op, ModOp::Delete);
    EXPECT_TRUE(mods[2].values.empty());
    EXPECT_EQ(mods[3].op, ModOp::Add);
    EXPECT_EQ(mods[3].values.size(), 2u);  // the last "-" may be left out
    EXPECT_EQ(records[1].kind, RecordKind::Add);
    EXPECT_EQ(records[1].values.size(), 2u);
}

TEST(Ldif, BadInputNamesTheLine) {
    struct Case {
        const char* text;
        int line;
        const char* words;
    };
    const Case cases[] = {
        {"cn: x\n", 1, "must begin with \"dn:\""},
        {"dn: o=A\nfullName:: ###\n", 2, "base64"},
        {"dn: o=A\nphoto:< file:///etc/passwd\n", 2, "URL"},
        {"dn: o=A\nchangetype: delete\n", 2, "not supported"},
        {"dn: o=A\nchangetype: modify\nincrement: x\n-\n", 3, "exactly one value"},
        {"dn: o=A\nchangetype: modify\nincrement: x\nx: 1\nx: 2\n", 3, "exactly one value"},
        {"dn: o=A\nchangetype: modify\nadd: x\ny: 1\n", 4, "missing \"-\""},
        {"dn: o=A\nchangetype: modify\nfrobnicate: x\n", 3, "expected add:"},
        {" leading continuation\n", 1, "continuation"},
        {"dn: o=A\no: A\ndn: o=B\n", 3, "missing blank line"},
        {"dn: o=A\nno colon here\n", 2, "attribute: value"},
        {"dn: o=A\n", 1, "without attributes"},
        {"version: 2\n\ndn: o=A\no: A\n", 1, "version"},
    };
    for (const Case& c : cases) {
        Problem problem = ParseBad(c.text);
        EXPECT_EQ(problem.line, c.line) << c.text;
        EXPECT_NE(problem.message.find(c.words), std::string::npos)
            << c.text << " -> " << problem.message;
        EXPECT_EQ(problem.file, "in.ldif");
    }
    EXPECT_EQ(ParseBad(std::string_view("dn: o=A\no: A\0B\n", 15)).line, 2);
    // Line numbers continue from where the text sits in its file.
    EXPECT_EQ(ParseBad("dn: o=A\nbad\n", 40).line, 41);
}

TEST(Ldif, WrittenValuesReadBackExactly) {
    std::vector<std::string> values = {"",
                                       "plain",
                                       " leading space",
                                       "trailing ",
                                       ":colon",
                                       "<angle",
                                       "line\nend",
                                       "cr\rhere",
                                       "caf\xc3\xa9",
                                       "nul\0x",
                                       std::string(300, 'w')};
    values[9] = std::string("nul\0x", 5);
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::string value(random() % 200, ' ');
        for (char& c : value) {
            c = static_cast<char>(random() % 256);
        }
        values.push_back(value);
    }
    for (const std::string& value : values) {
        LdifRecord record;
        record.dn = "cn=X,o=CORP";
        record.values.push_back({"fullName", value, 0});
        std::string text = FormatLdifRecord(record);
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            EXPECT_LE(end - start, 76u) << "unfolded line";
        }
        auto records = ParseOk(text);
        ASSERT_EQ(records.size(), 1u);
        ASSERT_EQ(records[0].values.size(), 1u);
        EXPECT_EQ(records[0].values[0].value, value);
    }
}

// A record that is whole (length and CRC match) is read wherever its header begins: after torn
// bytes without a line end, after a torn record on the same line, right after a record written by
// hand; the bytes before it are reported as torn.
TEST(Journal, WholeRecordsAreReadWhereverTheirHeaderBegins) {
    const std::string a =
        "dn: cn=A,o=CORP\nchangetype: modify\nincrement: accountBalance\n"
        "accountBalance: 1\n-\n";
    const std::string b =
        "dn: cn=B,o=CORP\nchangetype: modify\nincrement: accountBalance\n"
        "accountBalance: 2\n-\n";
    const std::string framedA = FrameRecord(a);
    const std::string framedB = FrameRecord(b);
    const std::string headerLookalike =
        "dn: cn=C,o=CORP\nchangetype: modify\nreplace: fullName\n"
        "fullName: # record length=5 crc32=00000000\n-\n\n";
    struct Case {
        std::string text;
        std::vector<std::string> bodies;
        std::vector<int> tornLines;
    };
    const Case cases[] = {
        {framedA + framedB, {a, b}, {}},
        {framedA + "xyz" + framedB, {a, b}, {8}},
        {"xyz" + framedB, {b}, {1}},
        {framedA.substr(0, 40) + framedB, {b}, {1}},
        {framedA.substr(0, 40) + "\n\n" + framedB, {b}, {1}},
        {"# a comment, cut# record" + framedB, {b}, {1}},
        {a + framedB, {a, b}, {}},
        {a + "-" + framedB, {a, b}, {6}},
        {headerLookalike + framedB, {headerLookalike.substr(0, headerLookalike.size() - 1), b}, {}},
    };
    for (const Case& c : cases) {
        JournalScan scan = ScanJournal(c.text, 1, true);
        std::vector<std::string> bodies;
        for (const ScannedRecord& record : scan.records) {
            bodies.emplace_back(record.body);
        }
        EXPECT_EQ(bodies, c.bodies) << c.text;
        EXPECT_EQ(scan.tornLines, c.tornLines) << c.text;
        EXPECT_EQ(scan.consumed, c.text.size()) << c.text;
        EXPECT_FALSE(scan.pendingTail);
    }
}

TEST(Ldif, Base64) {
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("f"), "Zg==");
    EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
    std::string out;
    EXPECT_TRUE(DecodeBase64("Zm9vYg==", out));
    EXPECT_EQ(out, "foob");
    for (const char* bad : {"Zg=", "Z===", "Zm=v", "Zm9*", "=Zm9"}) {
        EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
    }
}

}  // namespace
}  // namespace tally::store
