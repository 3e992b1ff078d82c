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

// Every way a package can be spoiled, one per row; each must end with false and its reason,
// never a crash.
TEST_F(MetaDataTest, EachSpoiledPackageFailsCleanly) {
  using Maker = std::function<std::string(MetaDataTest&)>;
  const std::string boot = Sha256Hex(Members()[0].data);
  const std::string system = Sha256Hex(Members()[1].data);
  const struct {
    const char* what;
    Maker make;
    MetaDataProblem problem;  // NONE: the package passes
  } cases[] = {
      {"the list as sealed",
       [](MetaDataTest& t) { return t.PackageWithList("good.tar", test::SealedList(GoodList())); },
       MetaDataProblem::None},
      {"no meta-data folder",
       [](MetaDataTest& t) {
         test::WriteTar(t.dir_ / "plain.tar", {Members()[0], Members()[1]});
         return t.dir_ / "plain.tar";
       },
       MetaDataProblem::NoList},
      {"a list member of 131056 bytes",
       [](MetaDataTest& t) {
         // Ignored lines after the entries fill the ciphertext to 131056 - 256 bytes.
         const std::string plain = GoodList() + std::string(130800 - 1 - GoodList().size(), 'x');
         const std::string member = test::SealedList(plain);
         EXPECT_EQ(member.size(), 131056u);
         return t.PackageWithList("big-list.tar", member);
       },
       MetaDataProblem::None},
      {"a list member of 131072 bytes",
       [](MetaDataTest& t) {
         const std::string plain = GoodList() + std::string(130816 - 1 - GoodList().size(), 'x');
         const std::string member = test::SealedList(plain);
         EXPECT_EQ(member.size(), LIST_SIZE_LIMIT);
         return t.PackageWithList("huge-list.tar", member);
       },
       MetaDataProblem::NoList},
      {"a list member shorter than a signature",
       [](MetaDataTest& t) { return t.PackageWithList("short-list.tar", std::string(255, 'S')); },
       MetaDataProblem::BadSignature},
      {"a changed signature byte",
       [](MetaDataTest& t) {
         std::string member = test::SealedList(GoodList());
         member[17] = static_cast<char>(member[17] ^ 0x40);
         return t.PackageWithList("bad-signature.tar", member);
       },
       MetaDataProblem::BadSignature},
      {"a changed ciphertext byte",
       [](MetaDataTest& t) {
         std::string member = test::SealedList(GoodList());
         member[300] = static_cast<char>(member[300] ^ 0x01);
         return t.PackageWithList("bad-cipher.tar", member);
       },
       MetaDataProblem::BadSignature},
      {"a list signed with another key",
       [](MetaDataTest& t) {
         return t.PackageWithList("other-key.tar", test::SealedList(GoodList(), OtherPrivateKey()));
       },
       MetaDataProblem::BadSignature},
      {"bad padding",
       [](MetaDataTest& t) {
         std::string plain = GoodList();
         plain.resize((plain.size() / 16 + 1) * 16, 'z');  // a last byte no padding ends with
         std::string member, error;
         EXPECT_TRUE(pack::SignListBody(pack::EncryptContentList(plain, false),
                                        test::TestPrivateKey(), member, error));
         return t.PackageWithList("bad-padding.tar", member);
       },
       MetaDataProblem::Undecryptable},
      {"ciphertext not whole blocks",
       [](MetaDataTest& t) {
         std::string member, error;
         EXPECT_TRUE(pack::SignListBody(pack::EncryptContentList(GoodList()) + "!",
                                        test::TestPrivateKey(), member, error));
         return t.PackageWithList("odd-cipher.tar", member);
       },
       MetaDataProblem::Undecryptable},
      {"count 0",
       [boot](MetaDataTest& t) {
         return t.PackageWithList("count0.tar",
                                  test::SealedList("0\nSM-X100\n" + boot + " boot.img\n"));
       },
       MetaDataProblem::BadCount},
      {"count 101 with 101 entries",
       [&](MetaDataTest& t) {
         std::string plain =
             "101\nSM-X100\n" + boot + " boot.img\n" + system + " firmware/system.img\n";
         for (int i = 0; i < 99; ++i) plain += boot + " spare" + std::to_string(i) + "\n";
         return t.PackageWithList("count101.tar", test::SealedList(plain));
       },
       MetaDataProblem::BadCount},
      {"count 100 with 100 entries",
       [&](MetaDataTest& t) {
         std::string plain =
             "100\nSM-X100\n" + boot + " boot.img\n" + system + " firmware/system.img\n";
         for (int i = 0; i < 98; ++i) plain += boot + " spare" + std::to_string(i) + "\n";
         return t.PackageWithList("count100.tar", test::SealedList(plain));
       },
       MetaDataProblem::None},
      {"count 3 with 2 entry lines",
       [&](MetaDataTest& t) {
         return t.PackageWithList("count3.tar",
                                  test::SealedList("3\nSM-X100\n" + boot + " boot.img\n" + system +
                                                   " firmware/system.img\n"));
       },
       MetaDataProblem::CountDiffers},
      {"count -1",
       [&](MetaDataTest& t) {
         return t.PackageWithList("count-1.tar", test::SealedList("-1\nSM-X100\n"));
       },
       MetaDataProblem::BadCount},
      {"a count with blanks before and text after",
       [&](MetaDataTest& t) {
         std::string plain = GoodList();
         plain.replace(0, 1, " \t2 entries");
         return t.PackageWithList("count-text.tar", test::SealedList(plain));
       },
       MetaDataProblem::None},
      {"a member not in the list",
       [&](MetaDataTest& t) {
         return t.PackageWithList("unlisted.tar",
                                  test::SealedList("1\nSM-X100\n" + boot + " boot.img\n"));
       },
       MetaDataProblem::Unlisted},
      {"a wrong digest",
       [&](MetaDataTest& t) {
         return t.PackageWithList("wrong-digest.tar",
                                  test::SealedList("2\nSM-X100\n" + boot + " boot.img\n" + boot +
                                                   " firmware/system.img\n"));
       },
       MetaDataProblem::DigestDiffers},
      {"upper-case digests",
       [&](MetaDataTest& t) {
         return t.PackageWithList("upper.tar",
                                  test::SealedList("2\nSM-X100\n" + Upper(boot) + " boot.img\n" +
                                                   Upper(system) + " firmware/system.img\n"));
       },
       MetaDataProblem::DigestDiffers},
      {"a listed name without a member, and a one-word line",
       [&](MetaDataTest& t) {
         return t.PackageWithList(
             "extra-entries.tar",
             test::SealedList("4\nSM-X100\n" + boot + " boot.img\n" + system +
                              " firmware/system.img\n" + boot + " gone.img\n" + boot + "\n"));
       },
       MetaDataProblem::None},
      {"a folder name spelt another way",
       [&](MetaDataTest& t) {
         std::vector<TarEntry> members = Members();
         members.push_back({"META-DATA/notes.txt", "not in the folder"});
         members.push_back({"meta-data/fota.mf", test::SealedList(GoodList())});
         test::WriteTar(t.dir_ / "case.tar", members);
         return t.dir_ / "case.tar";
       },
       MetaDataProblem::Unlisted},
      {"a list anywhere in a meta-data folder",
       [](MetaDataTest& t) {
         return t.PackageWithList("deep.tar", test::SealedList(GoodList()), "x/meta-data/a.mf");
       },
       MetaDataProblem::None},
      {"a list name of 13 characters",
       [](MetaDataTest& t) {
         return t.PackageWithList("short-name.tar", test::SealedList(GoodList()), "meta-data/.mf");
       },
       MetaDataProblem::NoList},
      {"a model of 29 characters",
       [](MetaDataTest& t) {
         return t.PackageWithList("model29.tar", test::SealedList(GoodList(std::string(29, 'M'))));
       },
       MetaDataProblem::None},
      {"a model of 30 characters",
       [](MetaDataTest& t) {
         return t.PackageWithList("model30.tar", test::SealedList(GoodList(std::string(30, 'M'))));
       },
       MetaDataProblem::BadModel},
      {"an empty model line",
       [](MetaDataTest& t) {
         return t.PackageWithList("model-empty.tar", test::SealedList(GoodList("")));
       },
       MetaDataProblem::BadModel},
      {"a model with a NUL",
       [](MetaDataTest& t) {
         return t.PackageWithList("model-nul.tar",
                                  test::SealedList(GoodList(std::string("SM\0X", 4))));
       },
       MetaDataProblem::BadModel},
      {"a header name without a NUL",
       [](MetaDataTest& t) {
         return t.Raw("name100.tar", RawMembers() + Header(std::string(100, 'n'), 0) + kEnd);
       },
       MetaDataProblem::BrokenArchive},
      {"a size field that is not octal",
       [](MetaDataTest& t) {
         std::string header = Header("bad-size.img", 8);
         std::memcpy(&header[TAR_SIZE_OFFSET], "0000000001 8", 12);
         return t.Raw("non-octal.tar", header + Padded("12345678") + RawMembers() + kEnd);
       },
       MetaDataProblem::BrokenArchive},
      {"a size field with blanks",
       [](MetaDataTest& t) {
         std::string header = Header("blank-size.img", 8);
         std::memcpy(&header[TAR_SIZE_OFFSET], "         10 ", 12);
         return t.Raw("blank-size.tar", header + Padded("12345678") + RawMembers() + kEnd);
       },
       MetaDataProblem::BrokenArchive},
      {"a member cut short",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         const std::string bytes =
             Header("meta-data/fota.mf", list.size()) + Padded(list) + RawMembers();
         return t.Raw("cut-member.tar", bytes.substr(0, bytes.size() - 3000));
       },
       MetaDataProblem::BrokenArchive},
      {"a list member cut short",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("cut-list.tar", RawMembers() + Header("meta-data/fota.mf", list.size()) +
                                          list.substr(0, 100));
       },
       MetaDataProblem::BrokenArchive},
      {"a meta-data member cut short at the end",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("cut-extra.tar", Header("meta-data/fota.mf", list.size()) + Padded(list) +
                                           RawMembers() + Header("meta-data/extra.bin", 4000) +
                                           std::string(1000, 'e'));
       },
       MetaDataProblem::BrokenArchive},
      {"a header cut short",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("cut-header.tar", Header("meta-data/fota.mf", list.size()) + Padded(list) +
                                            RawMembers() + Header("late.img", 0).substr(0, 200));
       },
       MetaDataProblem::BrokenArchive},
      {"a member larger than the file",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("huge-member.tar", Header("meta-data/fota.mf", list.size()) + Padded(list) +
                                             Header("huge.img", 077777777777) + kEnd);
       },
       MetaDataProblem::BrokenArchive},
      {"no end blocks",
       [](MetaDataTest& t) {
         const std::string list = test::SealedList(GoodList());
         return t.Raw("no-end.tar",
                      RawMembers() + Header("meta-data/fota.mf", list.size()) + Padded(list));
       },
       MetaDataProblem::None},
      {"an empty file", [](MetaDataTest& t) { return t.Raw("empty.tar", ""); },
       MetaDataProblem::NoList},
      {"a missing file", [](MetaDataTest& t) { return t.dir_ / "missing.tar"; },
       MetaDataProblem::Unreadable},
      {"a folder",
       [](MetaDataTest& t) {
         std::filesystem::create_directory(t.dir_ / "folder.tar");
         return t.dir_ / "folder.tar";
       },
       MetaDataProblem::Unreadable},
  };
  for (const auto& c : cases) {
    const std::string path = c.make(*this);
    const bool passes = c.problem == MetaDataProblem::None;
    char model[PACKAGE_MODEL_SIZE] = {};
    EXPECT_EQ(VerifyPackageFileMetaData(path, BuiltInMetaDataKey(), model), passes) << c.what;
    if (!passes) {
      EXPECT_STREQ(model, "") << c.what;
    }
    // The verdict says why, and the verifier keeps the same reason.
    char again[PACKAGE_MODEL_SIZE] = {};
    MetaDataFailure failure;
    EXPECT_EQ(AgreeOnModel(CheckPackageFile(path, BuiltInMetaDataKey()), again, &failure), passes);
    EXPECT_EQ(failure.problem, c.problem) << c.what << ": " << failure.text;
    EXPECT_EQ(failure.text.empty(), passes) << c.what << ": " << failure.text;
    CMetaDataVerifier verifier(path, BuiltInMetaDataKey());
    EXPECT_EQ(verifier.VerifyArchive() && verifier.CheckModel(again), passes) << c.what;
    EXPECT_EQ(verifier.Failure().problem, c.problem) << c.what;
  }
}

TEST_F(MetaDataTest, PackagesOfOneDownloadShareOneModel) {
  const std::vector<std::string> models = {"ABC\r", "ABC\r", "ABD", "ABC\r"};
  char model[PACKAGE_MODEL_SIZE] = {};
  std::vector<bool> verdicts;
  std::vector<std::string> reasons;
  for (size_t i = 0; i < models.size(); ++i) {
    const std::string path = dir_ / ("p" + std::to_string(i) + ".tar");
    test::WriteSignedPackage(path, Members(), models[i]);
    MetaDataFailure failure;
    verdicts.push_back(AgreeOnModel(CheckPackageFile(path, BuiltInMetaDataKey()), model, &failure));
    reasons.push_back(failure.text);
  }
  EXPECT_EQ(verdicts, (std::vector<bool>{true, true, false, true}));
  EXPECT_STREQ(model, "ABC\r");  // a carriage return before the line feed stays in the model
  // Both models are named, the carriage return shown for what it is.
  EXPECT_EQ(reasons, (std::vector<std::string>{
                         "", "",
                         "the packages' models differ: this one's is \"ABD\", an earlier one's "
                         "\"ABC\\r\"",
                         ""}));
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

// A One Click program of `bytes` whose trailer says whatever `trailer` says.
std::string Program(const std::string& bytes, OneClickTrailer trailer) {
  trailer.title = u"Mirk3 One Click Download";
  const auto encoded = trailer.Encode();
  return bytes + std::string(encoded.begin(), encoded.end());
}

TEST_F(MetaDataTest, OneClickSlotsCheckOnlyTheList) {
  // A program image: 1000 bytes of code, then a slot's tar whose member data do not match the
  // list (the list-only check does not hash them), then more bytes of the program.
  const std::string list = test::SealedList(GoodList("ONECLICK"));
  const std::string slot = Header("boot.img", 5) + Padded("wrong") +
                           Header("meta-data/fota.mf", list.size()) + Padded(list) + kEnd;
  OneClickTrailer trailer;
  trailer.slots[AP] = {1000, static_cast<uint32_t>(slot.size()), ONECLICK_TAR};
  const std::string exe = Program(std::string(1000, 'C') + slot + std::string(300, 'c'), trailer);
  const std::string path = Raw("oneclick.bin", exe);

  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_TRUE(VerifyOneClickSlotMetaData(path, trailer, AP, BuiltInMetaDataKey(), model));
  EXPECT_STREQ(model, "ONECLICK");
  model[0] = '\0';
  EXPECT_TRUE(VerifyOneClickSlotMetaData(path, 1000, BuiltInMetaDataKey(), model));
  EXPECT_STREQ(model, "ONECLICK");
  // Only where a slot starts: no other offset names a slot.
  for (const uint64_t offset : {uint64_t{0}, uint64_t{999}, uint64_t{1001}, exe.size(),
                                exe.size() + 512, uint64_t{0xFFFFFFFF}}) {
    char other[PACKAGE_MODEL_SIZE] = {};
    EXPECT_FALSE(VerifyOneClickSlotMetaData(path, offset, BuiltInMetaDataKey(), other)) << offset;
  }
  // Slot indexes outside the five slots, and slots that hold nothing, verify nothing.
  for (const int index : {-1, 5, 1000, INT32_MIN, INT32_MAX, int{BL}, int{UMS}}) {
    char other[PACKAGE_MODEL_SIZE] = {};
    EXPECT_FALSE(VerifyOneClickSlotMetaData(path, trailer, index, BuiltInMetaDataKey(), other))
        << index;
  }
  CMetaDataVerifier whole(path, BuiltInMetaDataKey());
  EXPECT_FALSE(whole.VerifyArchive());
}

TEST_F(MetaDataTest, AOneClickSlotsListIsLookedForWithinTheSlotOnly) {
  const std::string list = test::SealedList(GoodList("ONECLICK"));
  // AP holds no list and has no end blocks; CSC, right after it, holds a signed list.
  const std::string ap = Header("boot.img", 5) + Padded("boot!");
  const std::string csc = Header("meta-data/fota.mf", list.size()) + Padded(list) + kEnd;
  OneClickTrailer trailer;
  trailer.slots[AP] = {512, static_cast<uint32_t>(ap.size()), ONECLICK_TAR};
  trailer.slots[CSC] = {static_cast<uint32_t>(512 + ap.size()), static_cast<uint32_t>(csc.size()),
                        ONECLICK_TAR};
  const std::string path = Raw("oneclick.bin", Program(std::string(512, 'C') + ap + csc, trailer));

  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_FALSE(VerifyOneClickSlotMetaData(path, trailer, AP, BuiltInMetaDataKey(), model))
      << "AP is not verified by CSC's list";
  EXPECT_FALSE(VerifyOneClickSlotMetaData(path, 512, BuiltInMetaDataKey(), model));
  EXPECT_TRUE(VerifyOneClickSlotMetaData(path, trailer, CSC, BuiltInMetaDataKey(), model));
  // The verifier's own bounds: the list lies past AP's end.
  CMetaDataVerifier verifier(path, BuiltInMetaDataKey());
  EXPECT_FALSE(verifier.VerifyListIn(512, 512 + ap.size()));
  EXPECT_TRUE(verifier.VerifyListAt(512)) << "the unbounded search runs on into CSC";

  // A slot whose bytes reach into the trailer, or lie wholly outside the program, is refused
  // even when a list lies where it points.
  const uint64_t packages = 512 + ap.size() + csc.size();
  for (const auto& [offset, length] : std::vector<std::pair<uint32_t, uint32_t>>{
           {static_cast<uint32_t>(512 + ap.size()), static_cast<uint32_t>(csc.size() + 1)},
           {static_cast<uint32_t>(packages), 1024},
           {static_cast<uint32_t>(packages + 4096), 1024}}) {
    OneClickTrailer bad = trailer;
    bad.slots[CSC] = {offset, length, ONECLICK_TAR};
    const std::string badPath = Raw("bad.bin", Program(std::string(512, 'C') + ap + csc, bad));
    model[0] = '\0';
    EXPECT_FALSE(VerifyOneClickSlotMetaData(badPath, bad, CSC, BuiltInMetaDataKey(), model))
        << offset << "+" << length;
    std::string problem;
    const uint64_t length64 = std::filesystem::file_size(badPath);
    EXPECT_FALSE(OneClickSlotTar(bad, CSC, length64, &problem).has_value());
    EXPECT_NE(problem.find("does not lie within the program"), std::string::npos) << problem;
  }
}

TEST_F(MetaDataTest, AOneClickMd5SlotIsCheckedWithoutItsTrailer) {
  const std::string list = test::SealedList(GoodList("ONECLICK"));
  // No end blocks: the MD5 trailer line comes right after the list.
  const std::string tar = Header("meta-data/fota.mf", list.size()) + Padded(list);
  const std::string md5 = tar + "0123456789abcdef0123456789abcdef  CSC_x.tar\n";
  OneClickTrailer trailer;
  trailer.slots[CSC] = {512, static_cast<uint32_t>(md5.size()), ONECLICK_TAR_MD5};
  const std::string path = Raw("oneclick.bin", Program(std::string(512, 'C') + md5, trailer));
  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_TRUE(VerifyOneClickSlotMetaData(path, trailer, CSC, BuiltInMetaDataKey(), model));
  const auto range = OneClickSlotTar(trailer, CSC, std::filesystem::file_size(path));
  ASSERT_TRUE(range.has_value());
  EXPECT_EQ(range->begin, 512u);
  EXPECT_EQ(range->end, 512u + tar.size());
}

std::string TypedHeader(std::string_view name, uint64_t size, char type) {
  pack::TarHeaderBlock block = pack::MakeTarHeader(name, size);
  block[TAR_TYPE_OFFSET] = static_cast<uint8_t>(type);
  pack::SealTarHeader(block);
  return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// One pax record, "<length> <key>=<value>\n", its length counting itself.
std::string Rec(const std::string& key, const std::string& value) {
  const size_t body = key.size() + value.size() + 3;
  size_t length = body + 1;
  while (std::to_string(length).size() + body != length) ++length;
  return std::to_string(length) + " " + key + "=" + value + "\n";
}

// A pax header entry holding `records`, padded to whole blocks.
std::string Pax(std::string_view name, const std::string& records, char type = 'x') {
  return TypedHeader(name, records.size(), type) + Padded(records);
}

// The members a walk over [start, end) of `bytes` yields, and how it ends.
struct Walked {
  std::vector<std::string> names;
  TarStep last;
  std::string problem;
};
Walked WalkAll(const std::string& bytes, uint64_t start = 0, uint64_t end = UINT64_MAX) {
  const MemoryByteSource source(bytes);
  TarWalk walk(source, start, end, nullptr);
  Walked walked;
  TarMember member;
  while ((walked.last = walk.Next(member)) == TarStep::Member) walked.names.push_back(member.name);
  walked.problem = walk.Problem();
  EXPECT_EQ(walk.Next(member), walked.last) << "a finished walk stays finished";
  return walked;
}

using Names = std::vector<std::string>;

TEST(TarWalkTest, OnlyRegularFilesAreMembers) {
  const std::string times = Rec("mtime", "1796776571.343516592") + Rec("uname", "operator");
  const std::string bytes =
      TypedHeader("firmware/", 0, '5') + Pax("PaxHeaders/boot.img", times) + Header("boot.img", 2) +
      Padded("bo") + TypedHeader("link.img", 0, '2') + TypedHeader("hard.img", 0, '1') +
      Pax("GlobalHead", Rec("comment", "hey"), 'g') + TypedHeader("old-dir/", 0, '0') +
      TypedHeader("c.img", 1, '7') + Padded("c") + TypedHeader("n.img", 1, '\0') + Padded("n") +
      TypedHeader("fifo", 0, '6') + TypedHeader("tty", 0, '3') + TypedHeader("sda", 0, '4') + kEnd;
  const Walked walked = WalkAll(bytes);
  EXPECT_EQ(walked.names, (Names{"boot.img", "c.img", "n.img"}));
  EXPECT_EQ(walked.last, TarStep::End);
  EXPECT_EQ(walked.problem, "");
}

TEST(TarWalkTest, WhatChangesANameOrASizeBreaksTheWalk) {
  const struct {
    const char* what;
    std::string entry;
    std::string problem;
  } cases[] = {
      {"a pax path", Pax("PaxHeaders/a", "26 path=firmware/long.img\n"),
       "the pax extended header PaxHeaders/a sets a member's path; the station reads only ustar "
       "names and sizes"},
      {"a pax size", Pax("PaxHeaders/a", "14 size=99999\n"),
       "the pax extended header PaxHeaders/a sets a member's size; the station reads only ustar "
       "names and sizes"},
      {"a global path", Pax("G", "12 path=x.y\n", 'g'),
       "the pax global header G sets a member's path; the station reads only ustar names and "
       "sizes"},
      {"damaged records", Pax("PaxHeaders/a", "99 mtime=1\n"),
       "the pax extended header PaxHeaders/a is damaged"},
      {"a GNU long name", TypedHeader("././@LongLink", 9, 'L') + Padded("long.img"),
       "the member ././@LongLink is a GNU long name, which sets the next member's name: the "
       "station reads only ustar names"},
      {"an unknown type", TypedHeader("q", 0, 'Q'),
       "the member q has the tar type 'Q', which the station does not know"},
  };
  for (const auto& c : cases) {
    const Walked walked = WalkAll(Header("first.img", 1) + Padded("f") + c.entry +
                                  Header("boot.img", 1) + Padded("b") + kEnd);
    EXPECT_EQ(walked.names, Names{"first.img"}) << c.what;
    EXPECT_EQ(walked.last, TarStep::Broken) << c.what;
    EXPECT_EQ(walked.problem, c.problem) << c.what;
  }
}

TEST(TarWalkTest, AnArchiveCutShortBreaksTheWalk) {
  const std::string members =
      Header("a.img", 3) + Padded("abc") + Header("b.img", 600) + Padded(std::string(600, 'b'));
  ASSERT_EQ(members.size(), 2560u);
  // At a member boundary, with or without end blocks, the archive is whole.
  EXPECT_EQ(WalkAll(members).last, TarStep::End);
  EXPECT_EQ(WalkAll(members).names, (Names{"a.img", "b.img"}));
  EXPECT_EQ(WalkAll(members + kEnd).last, TarStep::End);
  EXPECT_EQ(WalkAll(members.substr(0, 1024)).names, Names{"a.img"});
  EXPECT_EQ(WalkAll(members.substr(0, 1024)).last, TarStep::End);
  const struct {
    size_t length;
    std::string problem;
  } cuts[] = {
      {1, "the package ends inside the tar header at offset 0"},
      {1024 + 300, "the package ends inside the tar header at offset 1024"},
      {1536 + 599, "the member b.img at offset 1024 runs past its end"},
      {2559, "the member b.img at offset 1024 runs past its end"},
      {2560 + 511, "the package ends inside the tar header at offset 2560"},
  };
  for (const auto& cut : cuts) {
    const Walked walked = WalkAll((members + kEnd).substr(0, cut.length));
    EXPECT_EQ(walked.last, TarStep::Broken) << cut.length;
    EXPECT_EQ(walked.problem, cut.problem) << cut.length;
  }
  // A bounded walk ends at its own end, whatever follows it.
  const std::string program = std::string(512, 'p') + members + Header("c.img", 1) + Padded("c");
  EXPECT_EQ(WalkAll(program, 512, 512 + 1024).names, Names{"a.img"});
  EXPECT_EQ(WalkAll(program, 512, 512 + 1024).last, TarStep::End);
  EXPECT_EQ(WalkAll(program, 512, 512 + 2000).last, TarStep::Broken);
  EXPECT_EQ(WalkAll(program, 512, 512 + 2560).names, (Names{"a.img", "b.img"}));
  EXPECT_EQ(WalkAll(program, 512).names, (Names{"a.img", "b.img", "c.img"}));
}

TEST(TarWalkTest, PaxRecordsThatTheStationNeverReadsAreHarmless) {
  const struct {
    std::string records;
    std::string problem;
  } cases[] = {
      {"", ""},
      {"30 mtime=1796776571.343516592\n30 atime=1796776571.351516592\n", ""},
      {Rec("uid", "0") + Rec("gid", "0") + Rec("uname", "abc") + Rec("hdrcharset", "BINARY"), ""},
      {Rec("SCHILY.xattr.user.mime", std::string(200, 'm')), ""},  // a length of three digits
      {"18 linkpath=a.img\n", ""},  // a link's target: links are not members
      {"12 comment=\n", ""},        // an empty value
      {"30 mtime=1796776571.343516592\n" + std::string(20, '\0'), ""},
      {"17 path=boot.img\n", "sets a member's path; the station reads only ustar names and sizes"},
      {"9 size=1\n", "sets a member's size; the station reads only ustar names and sizes"},
      {"22 GNU.sparse.major=1\n", "describes a sparse file"},
      {Rec("mtime", "1") + Rec("GNU.sparse.name", "a.img"), "describes a sparse file"},
      {"10 uid=0\n", "is damaged"},  // lengths that say more than the record holds
      {"9 uid=0\n", "is damaged"},
      {"7 uid=0\n", "is damaged"},  // and less
      {"x uid=0\n", "is damaged"},
      {"8 uid=0", "is damaged"},                        // no line feed
      {"7 uid0\n", "is damaged"},                       // no equals sign
      {"7 =abc\n", "is damaged"},                       // no key
      {std::string("8 uid=0\n\0x", 10), "is damaged"},  // bytes after the NUL fill
      {"99999999999999999999999 a=b\n", "is damaged"},
  };
  for (const auto& c : cases) EXPECT_EQ(TarPaxProblem(c.records), c.problem) << c.records;
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
