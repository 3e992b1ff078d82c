#include "pack/pack_commands.h"

#include <CLI/CLI.hpp>
#include <array>
#include <memory>
#include <optional>

#include "cmdline/command_line.h"
#include "pack/key_pair.h"
#include "pack/md5_package.h"
#include "pack/member_use.h"
#include "pack/oneclick_builder.h"
#include "pack/package_signer.h"
#include "pack/tar_writer.h"

namespace mirk3::pack {
namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;

constexpr char DESCRIPTION[] =
    "Makes packages for the station: tar archives, .tar.md5 trailers, key pairs, signed "
    "meta-data and One Click programs.\nRun 'mirk3-pack COMMAND --help' for the options of a "
    "command.";

constexpr char IN_SHORT[] =
    "In short:\n"
    "  mirk3-pack md5 FILE.tar\n"
    "  mirk3-pack keygen PRIVATE PUBLIC\n"
    "  mirk3-pack sign --key PRIVATE --model MODEL [--list-name NAME] IN.tar OUT.tar\n"
    "  mirk3-pack tar OUT.tar [NAME=]FILE...\n"
    "  mirk3-pack oneclick --exe PROGRAM [--bl|--ap|--cp|--csc|--ums FILE]\n"
    "             [--bl-type|--ap-type|--cp-type|--csc-type|--ums-type 1|3|4] [--pit FILE]\n"
    "             [--repartition] [--no-auto-reboot] [--efs-clear] [--boot-update] --out FILE\n"
    "\n"
    "Every output is written beside its final name and renamed into place when whole; an\n"
    "output that is not a regular file, or that is one of the command's inputs, is refused.\n";

using Args = std::vector<std::string>;

int Failed(std::ostream& err, const std::string& message) {
  err << "mirk3-pack: " << message << "\n";
  return EXIT_FAILED;
}

int RunMd5(const CLI::App& command, const Args& files, std::ostream& out, std::ostream& err) {
  if (files.size() != 1) return ReportUsageMistake(command, err, "md5 takes one tar file");
  std::string error;
  if (!WriteMd5Package(files[0], error)) return Failed(err, error);
  out << "wrote " << files[0] << ".md5\n";
  return EXIT_DONE;
}

int RunKeygen(const CLI::App& command, const Args& files, std::ostream& out, std::ostream& err) {
  if (files.size() != 2) {
    return ReportUsageMistake(command, err, "keygen takes a private and a public key file");
  }
  if (files[0] == files[1]) {
    return ReportUsageMistake(command, err, "the two key files must differ");
  }
  std::string error;
  if (!WriteNewKeyPair(files[0], files[1], error)) return Failed(err, error);
  out << "wrote private key " << files[0] << " and public key " << files[1] << "\n";
  return EXIT_DONE;
}

struct SignArgs {
  std::string keyPath;
  SignRequest request;
  Args files;
};

void DeclareSign(CLI::App& command, SignArgs& sign) {
  command.add_option("--key", sign.keyPath, "the maker's private key file")->type_name("PRIVATE");
  command.add_option("--model", sign.request.model, "the model the package is built for")
      ->type_name("MODEL");
  command.add_option("--list-name", sign.request.listName, "the content list's member name")
      ->type_name("NAME")
      ->capture_default_str();
  command.add_option("TAR", sign.files, "the input tar, then the output tar");
}

int RunSign(const CLI::App& command, SignArgs& sign, std::ostream& out, std::ostream& err) {
  if (command.count("--key") == 0 || command.count("--model") == 0) {
    return ReportUsageMistake(command, err, "sign needs --key and --model");
  }
  if (sign.files.size() != 2) {
    return ReportUsageMistake(command, err, "sign takes an input and an output tar");
  }
  SignRequest& request = sign.request;
  std::string error;
  if (!LoadPrivateKeyFile(sign.keyPath, request.privateKeyText, error)) return Failed(err, error);
  request.inPath = sign.files[0];
  request.outPath = sign.files[1];
  request.keyPath = sign.keyPath;
  if (!SignPackage(request, error)) return Failed(err, error);
  out << "wrote " << request.outPath << " with content list " << request.listName << " for model "
      << request.model << "\n";
  return EXIT_DONE;
}

struct TarMemberArg {
  std::string name;
  std::string path;
};

// NAME=FILE, or FILE stored under its own name.
TarMemberArg ParseTarMember(const std::string& arg) {
  const size_t equals = arg.find('=');
  if (equals == std::string::npos) return {arg, arg};
  return {arg.substr(0, equals), arg.substr(equals + 1)};
}

struct TarArgs {
  std::string outPath;
  Args members;
};

int RunTar(const CLI::App& command, const TarArgs& tar, std::ostream& out, std::ostream& err) {
  if (tar.outPath.empty() || tar.members.empty()) {
    return ReportUsageMistake(command, err, "tar takes an output file and at least one file");
  }
  std::vector<TarMemberArg> members;
  std::vector<std::string> inputs;
  for (const std::string& arg : tar.members) {
    members.push_back(ParseTarMember(arg));
    const std::string problem = StationNameProblem(members.back().name);
    if (!problem.empty()) return Failed(err, problem);
    inputs.push_back(members.back().path);
  }
  TarWriter writer;
  bool ok = writer.Open(tar.outPath, inputs);
  for (const TarMemberArg& member : members) ok = ok && writer.AddFile(member.name, member.path);
  if (!ok || !writer.Finish()) return Failed(err, writer.Error());
  out << "wrote " << tar.outPath << " with " << members.size() << " members\n";
  return EXIT_DONE;
}

// The option of a slot's package ("--ap") and of its type ("--ap-type").
std::string SlotOption(int slot, const char* suffix = "") {
  std::string name = SLOT_NAMES[slot];
  for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
  return "--" + name + suffix;
}

struct OneClickArgs {
  OneClickRequest request;
  std::array<std::string, SLOT_COUNT> types;
};

void DeclareOneClick(CLI::App& command, OneClickArgs& oneClick) {
  OneClickRequest& request = oneClick.request;
  command.add_option("--exe", request.programPath, "the station program to carry the packages")
      ->type_name("PROGRAM");
  command.add_option("--out", request.outPath, "the One Click program written")->type_name("FILE");
  const CLI::Validator slotType(
      [](std::string& type) {
        return type == "1" || type == "3" || type == "4" ? "" : std::string("takes 1, 3 or 4");
      },
      "");
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    command
        .add_option(SlotOption(slot), request.packages[slot].path,
                    std::string("the package of the ") + SLOT_NAMES[slot] + " slot")
        ->type_name("FILE");
    command
        .add_option(SlotOption(slot, "-type"), oneClick.types[slot],
                    "1 plain tar, 3 .tar.md5, 4 tar whose members are stored compressed")
        ->check(slotType)
        ->type_name("1|3|4")
        ->default_str("3 for a .tar.md5, else 1");
  }
  command
      .add_option("--pit", request.pitPath,
                  "partition table carried, written only with --repartition")
      ->type_name("FILE");
  command.add_flag("--repartition", request.rePartition,
                   "DESTRUCTIVE: the program re-partitions every phone with the table");
  command.add_flag_callback(
      "--no-auto-reboot", [&request] { request.autoReboot = false; },
      "phones stay in download mode after the download");
  command.add_flag("--efs-clear", request.efsClear,
                   "DESTRUCTIVE: the program clears every phone's EFS (its own settings and "
                   "identity data)");
  command.add_flag("--boot-update", request.bootUpdate,
                   "the program has every phone's boot loader update itself");
  // A flag given twice is as much a slip as a package given twice.
  for (CLI::Option* option : command.get_options()) {
    option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  }
}

// What the parser cannot see; "" when the request holds.
std::string OneClickProblem(OneClickArgs& oneClick) {
  OneClickRequest& request = oneClick.request;
  if (request.programPath.empty() || request.outPath.empty()) {
    return "oneclick needs --exe and --out";
  }
  bool any = false;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    any = any || !request.packages[slot].path.empty();
    const std::string& type = oneClick.types[slot];
    if (type.empty()) continue;
    if (request.packages[slot].path.empty()) {
      return SlotOption(slot, "-type") + " needs " + SlotOption(slot);
    }
    request.packages[slot].type = static_cast<int16_t>(type[0] - '0');
  }
  return any ? "" : "oneclick needs at least one package";
}

int RunOneClick(const CLI::App& command, OneClickArgs& oneClick, std::ostream& out,
                std::ostream& err) {
  const std::string problem = OneClickProblem(oneClick);
  if (!problem.empty()) return ReportUsageMistake(command, err, problem);
  const OneClickRequest& request = oneClick.request;
  OneClickTrailer trailer;
  std::string error;
  if (!BuildOneClick(request, trailer, error)) return Failed(err, error);
  out << "wrote " << request.outPath << ": " << request.programPath << " with";
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (!trailer.slots[slot].Present()) continue;
    out << " " << SLOT_NAMES[slot] << " (type " << trailer.slots[slot].type << ")";
  }
  if (trailer.pitSize != 0) out << " and a partition table";
  out << "\n";
  return EXIT_DONE;
}

// What the commands' options and words are stored in.
struct PackArgs {
  Args md5Files, keyFiles;
  SignArgs sign;
  TarArgs tar;
  OneClickArgs oneClick;
};

struct PackCommands {
  CLI::App *md5, *keygen, *sign, *tar, *oneClick;
};

PackCommands DeclareCommands(CLI::App& app, PackArgs& args) {
  PackCommands commands{};
  commands.md5 =
      app.add_subcommand("md5", "writes FILE.tar.md5: the tar followed by its MD5 trailer line");
  commands.md5->add_option("FILE", args.md5Files, "the tar file");
  commands.keygen = app.add_subcommand(
      "keygen", "makes an RSA-2048 key pair; PUBLIC is the key file the station reads");
  commands.keygen->add_option("FILE", args.keyFiles,
                              "the private key file, then the public key file");
  commands.sign = app.add_subcommand(
      "sign", "writes OUT.tar: IN.tar with a signed content list of its members under meta-data/");
  DeclareSign(*commands.sign, args.sign);
  commands.tar = app.add_subcommand(
      "tar",
      "writes a plain tar of the files, each stored under the name given, or under NAME when "
      "written as NAME=FILE; the station takes names of at most 31 bytes for the members it "
      "sends (meta-data/ and partition tables may be longer)");
  commands.tar->add_option("OUT", args.tar.outPath, "the tar written");
  commands.tar->add_option("MEMBER", args.tar.members, "[NAME=]FILE: a file and its member name");
  commands.oneClick = app.add_subcommand(
      "oneclick",
      "writes FILE: the station PROGRAM (mirk3-cli or mirk3) carrying up to five packages, a "
      "partition table and the run's flags, which flashes phones with no package to pick; the "
      "whole must fit in 4 GiB");
  DeclareOneClick(*commands.oneClick, args.oneClick);
  for (CLI::App* command :
       {commands.md5, commands.keygen, commands.sign, commands.tar, commands.oneClick}) {
    command->group("Commands");
  }
  return commands;
}

}  // namespace

namespace {

// The parser of the whole line and where it stores what it read.
struct PackLine {
  std::unique_ptr<CLI::App> app = NewCommandLine("mirk3-pack", DESCRIPTION);
  PackArgs given;
  PackCommands commands = DeclareCommands(*app, given);
  PackLine() { app->footer(IN_SHORT); }  // set last: a command added later would show it too
};

}  // namespace

std::optional<int> ParsePackCommand(const std::vector<std::string>& args, std::ostream& out,
                                    std::ostream& err) {
  PackLine line;
  if (const auto status = ParseCommandLine(*line.app, args, out, err)) return status;
  for (CLI::App* command : {line.commands.md5, line.commands.keygen, line.commands.sign,
                            line.commands.tar, line.commands.oneClick}) {
    if (command->parsed()) return std::nullopt;
  }
  return ReportUsageMistake(*line.app, err, "no command given");
}

int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  PackLine line;
  PackArgs& given = line.given;
  const PackCommands& commands = line.commands;
  if (const auto status = ParseCommandLine(*line.app, args, out, err)) return *status;
  if (commands.md5->parsed()) return RunMd5(*commands.md5, given.md5Files, out, err);
  if (commands.keygen->parsed()) return RunKeygen(*commands.keygen, given.keyFiles, out, err);
  if (commands.sign->parsed()) return RunSign(*commands.sign, given.sign, out, err);
  if (commands.tar->parsed()) return RunTar(*commands.tar, given.tar, out, err);
  if (commands.oneClick->parsed()) {
    return RunOneClick(*commands.oneClick, given.oneClick, out, err);
  }
  return ReportUsageMistake(*line.app, err, "no command given");
}

}  // namespace mirk3::pack
