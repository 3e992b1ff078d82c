#include "app/cli_package_commands.h"

#include "app/package_pick.h"
#include "packages/content_list.h"
#include "packages/meta_data_key.h"
#include "packages/package_meta_data.h"

namespace mirk3 {
namespace {

constexpr int EXIT_PASSED = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr char MD5_USAGE[] = "usage: mirk3-cli md5 FILE...\n";
constexpr char VERIFY_USAGE[] = "usage: mirk3-cli verify [--meta-key FILE] FILE...\n";

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int Usage(std::ostream& err, const char* usage, const std::string& problem) {
  err << "mirk3-cli: " << problem << "\n" << usage;
  return EXIT_USAGE;
}

// The md5 command's face: the check's log lines on standard output, its error on standard
// error.
class Md5CommandFace : public StationView {
 public:
  Md5CommandFace(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  void AppendLog(const std::string& line) override { out_ << line << "\n"; }
  void ShowSlot(int, int, SlotState, int, const std::string&) override {}
  void ShowMessage(const std::string& text) override { err_ << text << "\n"; }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int RunMd5Command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, MD5_USAGE, "md5 needs at least one file");
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      out << MD5_USAGE;
      return EXIT_PASSED;
    }
    if (arg.starts_with("-")) return Usage(err, MD5_USAGE, "unknown option " + arg);
  }
  Md5CommandFace face(out, err);
  bool allPassed = true;
  for (const std::string& path : args) allPassed = CheckPackageMd5(path, face) && allPassed;
  return allPassed ? EXIT_PASSED : EXIT_FAILED;
}

int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string keyFile;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (IsHelp(args[i])) {
      out << VERIFY_USAGE;
      return EXIT_PASSED;
    }
    if (args[i] == "--meta-key") {
      if (i + 1 == args.size()) return Usage(err, VERIFY_USAGE, "--meta-key needs a file");
      keyFile = args[++i];
    } else if (args[i].starts_with("-")) {
      return Usage(err, VERIFY_USAGE, "unknown option " + args[i]);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) return Usage(err, VERIFY_USAGE, "verify needs at least one file");

  std::string keyText = BuiltInMetaDataKey();
  std::string error;
  if (!keyFile.empty() && !LoadMetaDataKeyFile(keyFile, keyText, error)) {
    err << "mirk3-cli: " << error << "\n";
    return EXIT_FAILED;
  }

  // As in a download: once a package fails, the later ones are not checked.
  char packageModel[PACKAGE_MODEL_SIZE] = {};
  bool metaDataValid = true;
  for (const std::string& path : files) {
    if (!metaDataValid) {
      out << path << ": not checked (an earlier package failed)\n";
    } else if (VerifyPackageFileMetaData(path, keyText, packageModel)) {
      out << path << ": meta-data verified\n";
    } else {
      metaDataValid = false;
      out << path << ": meta-data INVALID\n";
    }
  }
  out << "model: " << (packageModel[0] ? packageModel : "(none)") << "\n";
  return metaDataValid ? EXIT_PASSED : EXIT_FAILED;
}

}  // namespace mirk3
