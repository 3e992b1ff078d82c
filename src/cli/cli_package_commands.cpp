#include "cli/cli_package_commands.h"

#include <CLI/CLI.hpp>

#include "station/command_options.h"
#include "station/package_pick.h"
#include "station/station.h"
#include "cmdline/command_line.h"
#include "packages/content_list.h"
#include "packages/md5_trailer.h"
#include "packages/meta_data_key.h"
#include "packages/package_meta_data.h"

namespace mirk3 {
namespace {

constexpr int EXIT_PASSED = 0;
constexpr int EXIT_FAILED = 1;

// The md5 command's face: the check's log lines on standard output, its error on standard
// error.
class Md5CommandFace {
 public:
  Md5CommandFace(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  std::function<void(const std::string&)> Log() {
    return [this](const std::string& text) { out_ << FormatLogLine(-1, NO_PORT, text) << "\n"; };
  }
  std::function<void(const std::string&, const std::string&)> Message() {
    return [this](const std::string& text, const std::string&) { err_ << text << "\n"; };
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

std::optional<int> ParseMd5Arguments(const std::vector<std::string>& args,
                                     std::vector<std::string>* files, std::ostream& out,
                                     std::ostream& err) {
  const auto app = NewCommandLine(
      "mirk3-cli md5",
      "Checks the MD5 trailers of .tar.md5 packages as the window does when a package is picked, "
      "with the same log lines.\nExit status: 0 every file passes, 1 any fails, 2 usage error.");
  app->add_option("FILE", *files, "the packages to check");
  if (const auto status = ParseCommandLine(*app, args, out, err)) return status;
  if (files->empty()) return ReportUsageMistake(*app, err, "md5 needs at least one file");
  return std::nullopt;
}

int RunMd5Command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> files;
  if (const auto status = ParseMd5Arguments(args, &files, out, err)) return *status;
  Md5CommandFace face(out, err);
  bool allPassed = true;
  for (const std::string& path : files) {
    Md5Failure failure;
    if (CheckPackageMd5(path, face.Log(), face.Message(), &failure)) continue;
    allPassed = false;
    // The window's lines say only that the package is invalid; the operator learns why.
    err << path << ": " << failure.text << "\n";
  }
  return allPassed ? EXIT_PASSED : EXIT_FAILED;
}

std::optional<int> ParseVerifyArguments(const std::vector<std::string>& args,
                                        VerifyRequest* request, std::ostream& out,
                                        std::ostream& err) {
  const auto app = NewCommandLine(
      "mirk3-cli verify",
      "Checks the packages' signed meta-data as one download would: all of them share one "
      "model, and once a package fails the later ones are not checked.\nExit status: 0 every "
      "file passes, 1 any fails, 2 usage error.");
  app->add_option("FILE", request->files, "the packages to check");
  AddMetaKeyOption(*app, request->keyFile);
  if (const auto status = ParseCommandLine(*app, args, out, err)) return status;
  if (request->files.empty()) {
    return ReportUsageMistake(*app, err, "verify needs at least one file");
  }
  return std::nullopt;
}

int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  VerifyRequest request;
  if (const auto status = ParseVerifyArguments(args, &request, out, err)) return *status;
  const std::string& keyFile = request.keyFile;
  const std::vector<std::string>& files = request.files;

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
    MetaDataFailure failure;
    if (!metaDataValid) {
      out << path << ": not checked (an earlier package failed)\n";
    } else if (AgreeOnModel(CheckPackageFile(path, keyText), packageModel, &failure)) {
      out << path << ": meta-data verified\n";
    } else {
      metaDataValid = false;
      out << path << ": meta-data INVALID\n" << path << ": " << failure.text << "\n";
    }
  }
  out << "model: " << (packageModel[0] ? packageModel : "(none)") << "\n";
  return metaDataValid ? EXIT_PASSED : EXIT_FAILED;
}

}  // namespace mirk3
