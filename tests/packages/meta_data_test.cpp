// The meta-data check over real packages: tars written and signed with mirk3-pack's code and
// the project's test key, then spoiled one way at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "pack/key_pair.h"
#include "pack/list_signer.h"
#include "pack/tar_writer.h"
#include "packages/byte_source.h"
#include "packages/content_list.h"
#include "packages/member_digest.h"
#include "packages/meta_data_key.h"
#include "packages/meta_data_verifier.h"
#include "packages/package_meta_data.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::TarEntry;
using test::TempDir;

std::string Sha256Hex(const std::string& data) {
  return MemberSha256Hex(MemoryByteSource(data), 0, data.size());
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Header(std::string_view name, uint64_t size) {
  const pack::TarHeaderBlock block = pack::MakeTarHeader(name, size);
  return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

std::string Padded(std::string data) {
  data.resize(TarPaddedSize(data.size()), '\0');
  return data;
}

const std::string kEnd(2 * TAR_BLOCK_SIZE, '\0');

// The package most cases start from: two members, one in a folder, and a download list.
const std::vector<TarEntry>& Members() {
  static const std::vector<TarEntry> members = {
      {"boot.img", test::TestBytes(3000, 11)},
      {"firmware/system.img", test::TestBytes(70000, 12)},
      {"meta-data/download-list.txt", "boot.img\n"},
  };
  return members;
}

// A plain list naming the two members with their true digests.
std::string GoodList(const std::string& model = "SM-X100") {
  return "2\n" + model + "\n" + Sha256Hex(Members()[0].data) + "  boot.img\n" +
         Sha256Hex(Members()[1].data) + "  firmware/system.img\n";
}

class MetaDataTest : public ::testing::Test {
 public:  // the case table's makers reach these through a reference
  // Writes Members() followed by a list member holding `listMember` under `listName`.
  std::string PackageWithList(const std::string& name, const std::string& listMember,
                              const std::string& listName = "meta-data/fota.mf") {
    std::vector<TarEntry> members = Members();
    members.push_back({listName, listMember});
    test::WriteTar(dir_ / name, members);
    return dir_ / name;
  }

  std::string Raw(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }

  // Members() as raw tar bytes (no end blocks), for packages with hand-made headers.
  static std::string RawMembers() {
    std::string bytes;
    for (const TarEntry& m : Members()) bytes += Header(m.name, m.data.size()) + Padded(m.data);
    return bytes;
  }

  static const std::string& OtherPrivateKey() {
    static const pack::KeyPairText pair = pack::GenerateKeyPair();
    return pair.privateText;
  }

  TempDir dir_;
};

TEST_F(MetaDataTest, SignedPackagePassesAndFillsTheModel) {
  const std::string path = dir_ / "AP_good.tar";
  test::WriteSignedPackage(path, Members(), "SM-X100");
  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_TRUE(VerifyPackageFileMetaData(path, BuiltInMetaDataKey(), model));
  EXPECT_STREQ(model, "SM-X100");

  CMetaDataVerifier verifier(path, BuiltInMetaDataKey());
  ASSERT_TRUE(verifier.VerifyArchive());
  EXPECT_EQ(verifier.EntryCount(), 2);
  EXPECT_EQ(verifier.Names(), (std::vector<std::string>{"boot.img", "firmware/system.img"}));
  EXPECT_EQ(verifier.Digests()[1], Sha256Hex(Members()[1].data));
}

// Every way a package can be spoiled, one per row; each must end with false, never a crash.
TEST_F(MetaDataTest, EachSpoiledPackageFailsCleanly) {
  using Maker = std::function<std::string(MetaDataTest&)>;
  const std::string boot = Sha256Hex(Members()[0].data);
  const std::string system = Sha256Hex(Members()[1].data);
  const struct {
    const char* what;
    Maker make;
    bool passes;
  } cases[] = {
      {"the list as sealed",
       [](MetaDataTest& t) { return t.PackageWithList("good.tar", test::SealedList(GoodList())); },
       true},
      {"no meta-data folder",
       [](MetaDataTest& t) {
         test::WriteTar(t.dir_ / "plain.tar", {Members()[0], Members()[1]});
         return t.dir_ / "plain.tar";
       },
       false},
      {"a list member of 131056 bytes",
       [](MetaDataTest& t) {
         // Ignored lines after the entries fill the ciphertext to 131056 - 256 bytes.
         const std::string plain = GoodList() + std::string(130800 - 1 - GoodList().size(), 'x');
         const std::string member = test::SealedList(plain);
         EXPECT_EQ(member.size(), 131056u);
         return t.PackageWithList("big-list.tar", member);
       },
       true},
      {"a list member of 131072 bytes",
       [](MetaDataTest& t) {
         const std::string plain = GoodList() + std::string(130816 - 1 - GoodList().size(), 'x');
         const std::string member = test::SealedList(plain);
         EXPECT_EQ(member.size(), LIST_SIZE_LIMIT);
         return t.PackageWithList("huge-list.tar", member);
       },
       false},
      {"a list member shorter than a signature",
       [](MetaDataTest& t) { return t.PackageWithList("short-list.tar", std::string(255, 'S')); },
       false},
      {"a changed signature byte",
       [](MetaDataTest& t) {
         std::string member = test::SealedList(GoodList());
         member[17] = static_cast<char>(member[17] ^ 0x40);
         return t.PackageWithList("bad-signature.tar", member);
       },
       false},
      {"a changed ciphertext byte",
       [](MetaDataTest& t) {
         std::string member = test::SealedList(GoodList());
         member[300] = static_cast<char>(member[300] ^ 0x01);
         return t.PackageWithList("bad-cipher.tar", member);
       },
       false},
      {"a list signed with another key",
       [](MetaDataTest& t) {
         return t.PackageWithList("other-key.tar", test::SealedList(GoodList(), OtherPrivateKey()));
       },
       false},
      {"bad padding",
       [](MetaDataTest& t) {
         std::string plain = GoodList();
         plain.resize((plain.size() / 16 + 1) * 16, 'z');  // a last byte no padding ends with
         std::string member, error;
         EXPECT_TRUE(pack::SignListBody(pack::EncryptContentList(plain, false),
                                        test::TestPrivateKey(), member, error));
         return t.PackageWithList("bad-padding.tar", member);
       },
       false},
      {"ciphertext not whole blocks",
       [](MetaDataTest& t) {
         std::string member, error;
         EXPECT_TRUE(pack::SignListBody(pack::EncryptContentList(GoodList()) + "!",
                                        test::TestPrivateKey(), member, error));
         return t.PackageWithList("odd-cipher.tar", member);
       },
       false},
      {"count 0",
       [boot](MetaDataTest& t) {
         return t.PackageWithList("count0.tar",
                                  test::SealedList("0\nSM-X100\n" + boot + " boot.img\n"));
       },
       false},
      {"count 101 with 101 entries",
       [&](MetaDataTest& t) {
         std::string plain =
             "101\nSM-X100\n" + boot + " boot.img\n" + system + " firmware/system.img\n";
         for (int i = 0; i < 99; ++i) plain += boot + " spare" + std::to_string(i) + "\n";
         return t.PackageWithList("count101.tar", test::SealedList(plain));
       },
       false},
      {"count 100 with 100 entries",
       [&](MetaDataTest& t) {
         std::string plain =
             "100\nSM-X100\n" + boot + " boot.img\n" + system + " firmware/system.img\n";
         for (int i = 0; i < 98; ++i) plain += boot + " spare" + std::to_string(i) + "\n";
         return t.PackageWithList("count100.tar", test::SealedList(plain));
       },
       true},
      {"count 3 with 2 entry lines",
       [&](MetaDataTest& t) {
         return t.PackageWithList("count3.tar",
                                  test::SealedList("3\nSM-X100\n" + boot + " boot.img\n" + system +
                                                   " firmware/system.img\n"));
       },
       false},
      {"count -1",
       [&](MetaDataTest& t) {
         return t.PackageWithList("count-1.tar", test::SealedList("-1\nSM-X100\n"));
       },
       false},
      {"a count with blanks before and text after",
       [&](MetaDataTest& t) {
         std::string plain = GoodList();
         plain.replace(0, 1, " \t2 entries");
         return t.PackageWithList("count-text.tar", test::SealedList(plain));
       },
       true},
      {"a member not in the list",
       [&](MetaDataTest& t) {
         return t.PackageWithList("unlisted.tar",
                                  test::SealedList("1\nSM-X100\n" + boot + " boot.img\n"));
       },
       false},
      {"a wrong digest",
       [&](MetaDataTest& t) {
         return t.PackageWithList("wrong-digest.tar",
                                  test::SealedList("2\nSM-X100\n" + boot + " boot.img\n" + boot +
                                                   " firmware/system.img\n"));
       },
       false},
      {"upper-case digests",
       [&](MetaDataTest& t) {
         return t.PackageWithList("upper.tar",
                                  test::SealedList("2\nSM-X100\n" + Upper(boot) + " boot.img\n" +
                                                   Upper(system) + " firmware/system.img\n"));
       },
       false},
      {"a listed name without a member, and a one-word line",
       [&](MetaDataTest& t) {
         return t.PackageWithList(
             "extra-entries.tar",
             test::SealedList("4\nSM-X100\n" + boot + " boot.img\n" + system +
                              " firmware/system.img\n" + boot + " gone.img\n" + boot + "\n"));
       },
       true},
      {"a folder name spelt another way",
       [&](MetaDataTest& t) {
         std::vector<TarEntry> members = Members();
         members.push_back({"META-DATA/notes.txt", "not in the folder"});
         members.push_back({"meta-data/fota.mf", test::SealedList(GoodList())});
         test::WriteTar(t.dir_ / "case.tar", members);
         return t.dir_ / "case.tar";
       },
       false},
      {"a list anywhere in a meta-data folder",
       [](MetaDataTest& t) {
         return t.PackageWithList("deep.tar", test::SealedList(GoodList()), "x/meta-data/a.mf");
       },
       true},
      {"a list name of 13 characters",
       [](MetaDataTest& t) {
         return t.PackageWithList("short-name.tar", test::SealedList(GoodList()), "meta-data/.mf");
       },
       false},
      {"a model of 29 characters",
       [](MetaDataTest& t) {
         return t.PackageWithList("model29.tar", test::SealedList(GoodList(std::string(29, 'M'))));
       },
       true},
      {"a model of 30 characters",
       [](MetaDataTest& t) {
         return t.PackageWithList("model30.tar", test::SealedList(GoodList(std::string(30, 'M'))));
       },
       false},
      {"an empty model line",
       [](MetaDataTest& t) {
         return t.PackageWithList("model-empty.tar", test::SealedList(GoodList("")));
       },
       false},
      {"a model with a NUL",
       [](MetaDataTest& t) {
         return t.PackageWithList("model-nul.tar",
                                  test::SealedList(GoodList(std::string("SM\0X", 4))));
       },
       false},
      {"a header name without a NUL",
       [](MetaDataTest& t) {
         return t.Raw("name100.tar", RawMembers() + Header(std::string(100, 'n'), 0) + kEnd);
       },
       false},
      {"a size field that is not octal",
       [](MetaDataTest& t) {
         std::string header = Header("bad-size.img", 8);
         std::memcpy(&header[TAR_SIZE_OFFSET], "0000000001 8", 12);
         return t.Raw("non-octal.tar", header + Padded("12345678") + RawMembers() + kEnd);
       },
       false},
      {"a size field with blanks",
       [](MetaDataTest& t) {
         std::string header = Header("blank-size.img", 8);
         std::memcpy(&header[TAR_SIZE_OFFSET], "         10 ", 12);
         return t.Raw("blank-size.tar", header + Padded("12345678") + RawMembers() + kEnd);
       },
       false},
      {"a member cut short",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         const std::string bytes =
             Header("meta-data/fota.mf", list.size()) + Padded(list) + RawMembers();
         return t.Raw("cut-member.tar", bytes.substr(0, bytes.size() - 3000));
       },
       false},
      {"a list member cut short",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("cut-list.tar", RawMembers() + Header("meta-data/fota.mf", list.size()) +
                                          list.substr(0, 100));
       },
       false},
      {"a meta-data member cut short at the end",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("cut-extra.tar", Header("meta-data/fota.mf", list.size()) + Padded(list) +
                                           RawMembers() + Header("meta-data/extra.bin", 4000) +
                                           std::string(1000, 'e'));
       },
       false},
      {"a header cut short",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("cut-header.tar", Header("meta-data/fota.mf", list.size()) + Padded(list) +
                                            RawMembers() + Header("late.img", 0).substr(0, 200));
       },
       false},
      {"a member larger than the file",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("huge-member.tar", Header("meta-data/fota.mf", list.size()) + Padded(list) +
                                             Header("huge.img", 077777777777) + kEnd);
       },
       false},
      {"no end blocks",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("no-end.tar",
                      RawMembers() + Header("meta-data/fota.mf", list.size()) + Padded(list));
       },
       true},
      {"an empty file", [](MetaDataTest& t) { return t.Raw("empty.tar", ""); }, false},
      {"a missing file", [](MetaDataTest& t) { return t.dir_ / "missing.tar"; }, false},
      {"a folder",
       [](MetaDataTest& t) {
         std::filesystem::create_directory(t.dir_ / "folder.tar");
         return t.dir_ / "folder.tar";
       },
       false},
  };
  for (const auto& c : cases) {
    const std::string path = c.make(*this);
    char model[PACKAGE_MODEL_SIZE] = {};
    EXPECT_EQ(VerifyPackageFileMetaData(path, BuiltInMetaDataKey(), model), c.passes) << c.what;
    if (!c.passes) {
      EXPECT_STREQ(model, "") << c.what;
    }
  }
}

TEST_F(MetaDataTest, PackagesOfOneDownloadShareOneModel) {
  const std::vector<std::string> models = {"ABC\r", "ABC\r", "ABD", "ABC\r"};
  char model[PACKAGE_MODEL_SIZE] = {};
  std::vector<bool> verdicts;
  for (size_t i = 0; i < models.size(); ++i) {
    const std::string path = dir_ / ("p" + std::to_string(i) + ".tar");
    test::WriteSignedPackage(path, Members(), models[i]);
    verdicts.push_back(VerifyPackageFileMetaData(path, BuiltInMetaDataKey(), model));
  }
  EXPECT_EQ(verdicts, (std::vector<bool>{true, true, false, true}));
  EXPECT_STREQ(model, "ABC\r");  // a carriage return before the line feed stays in the model
}

TEST_F(MetaDataTest, AnotherMakersKeyIsUsedWhenNamed) {
  const pack::KeyPairText pair = pack::GenerateKeyPair();
  const std::string path = dir_ / "their.tar";
  test::WriteSignedPackage(path, Members(), "THEIRS", pair.privateText);
  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_FALSE(VerifyPackageFileMetaData(path, BuiltInMetaDataKey(), model));
  EXPECT_TRUE(VerifyPackageFileMetaData(path, pair.publicText, model));
  EXPECT_STREQ(model, "THEIRS");
  // A key that is not an RSA-2048 public key verifies nothing.
  for (const std::string& key : {std::string(), std::string("bm90IGEga2V5"), pair.privateText}) {
    model[0] = '\0';
    EXPECT_FALSE(VerifyPackageFileMetaData(path, key, model));
  }
}

TEST_F(MetaDataTest, OneClickSlotsCheckOnlyTheList) {
  // A program image: 1000 bytes of code, then a slot's tar whose member data do not match the
  // list (the list-only check does not hash them), then more bytes of the program.
  const std::string list = test::SealedList(GoodList("ONECLICK"));
  const std::string slot = Header("boot.img", 5) + Padded("wrong") +
                           Header("meta-data/fota.mf", list.size()) + Padded(list) + kEnd;
  const std::string exe = std::string(1000, 'C') + slot + std::string(1468, 'T');
  const std::string path = Raw("oneclick.bin", exe);

  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_TRUE(VerifyOneClickSlotMetaData(path, 1000, BuiltInMetaDataKey(), model));
  EXPECT_STREQ(model, "ONECLICK");
  for (const uint64_t offset : {uint64_t{0}, uint64_t{999}, uint64_t{1001}, exe.size(),
                                exe.size() + 512, uint64_t{0xFFFFFFFF}}) {
    char other[PACKAGE_MODEL_SIZE] = {};
    EXPECT_FALSE(VerifyOneClickSlotMetaData(path, offset, BuiltInMetaDataKey(), other)) << offset;
  }
  CMetaDataVerifier whole(path, BuiltInMetaDataKey());
  EXPECT_FALSE(whole.VerifyArchive());
}

TEST(MetaDataNamesTest, FolderListAndSizeRules) {
  const struct {
    const char* name;
    bool metaData;
    bool list;
  } names[] = {
      {"meta-data/fota.mf", true, true},
      {"x/meta-data/a.mf", true, true},      // the folder may stand anywhere
      {"meta-data\\fota.mf", true, true},    // either separator
      {"meta-data/.mf", true, false},        // 13 characters
      {"meta-data/ab.mf", true, true},       // 15 characters
      {"meta-data/extra.bin", true, false},  // in the folder, not a list
      {"meta-data/fota.MF", true, false},    // the ending is case-sensitive
      {"META-DATA/fota.mf", false, false},   // and so is the folder
      {"meta-data.mf/x.img", false, false},  // no folder of that name
      {"boot.img", false, false},
  };
  for (const auto& n : names) {
    EXPECT_EQ(CMetaDataVerifier::IsMetaDataEntry(n.name), n.metaData) << n.name;
    EXPECT_EQ(CMetaDataVerifier::IsSignedListEntry(n.name), n.list) << n.name;
  }

  const std::string nul(1, '\0');
  const struct {
    std::string field;  // 12 bytes
    std::optional<uint64_t> value;
  } sizes[] = {
      {"00000001000" + nul, 512},
      {nul + "0000000100" + nul, 0},
      {"777777777777", (uint64_t{1} << 36) - 1},
      {"0000000010" + nul + "9", 8},  // digits after the NUL are not read
      {"00000000008" + nul, std::nullopt},
      {"        144 ", std::nullopt},
      {"\x80" + std::string(10, '\0') + "\x01", std::nullopt},  // the base-256 form
  };
  for (const auto& s : sizes) EXPECT_EQ(CMetaDataVerifier::ParseOctal(s.field), s.value);
}

TEST(ContentListTest, ParsesLinesAsTheStationReadsThem) {
  ContentList list;
  ASSERT_TRUE(ParseContentList("2\r\nMODEL X\r\nd1 a.img\tjunk\n  d2   b/c.img\nignored\n", list));
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.model, "MODEL X\r");
  EXPECT_EQ(list.digests, (std::vector<std::string>{"d1", "d2"}));
  EXPECT_EQ(list.names, (std::vector<std::string>{"a.img", "b/c.img"}));

  ASSERT_TRUE(ParseContentList("1\nM\nlonely", list));  // a last line without a line feed
  EXPECT_EQ(list.names, std::vector<std::string>{""});
  for (const char* bad :
       {"", "\n", "x\nM\nd a\n", "99999999999999999999\nM\n", "2\nM\nd a\n", "1\nM\n"}) {
    EXPECT_FALSE(ParseContentList(bad, list)) << '"' << bad << '"';
  }
}

TEST(MemberDigestTest, AgreesWithSha256sumAcrossReadChunks) {
  TempDir dir;
  const std::string data = test::TestBytes(3 * MEMBER_READ_SIZE + 5, 13);
  test::WriteFile(dir / "data.bin", data);
  FILE* pipe = popen(("sha256sum '" + (dir / "data.bin") + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char hex[65] = {};
  const size_t got = fread(hex, 1, 64, pipe);
  pclose(pipe);
  ASSERT_EQ(got, 64u);
  FileByteSource file;
  ASSERT_TRUE(file.Open(dir / "data.bin"));
  EXPECT_EQ(MemberSha256Hex(file, 0, data.size()), hex);
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(MemberSha256Hex(file, 10, data.size()), "");  // runs past the end
}

}  // namespace
}  // namespace mirk3
