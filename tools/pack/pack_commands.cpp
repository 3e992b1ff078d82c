#include "pack/pack_commands.h"

#include <map>
#include <optional>
#include <set>

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
constexpr int EXIT_USAGE = 2;

constexpr char USAGE[] =
    "usage: mirk3-pack md5 FILE.tar\n"
    "       mirk3-pack keygen PRIVATE PUBLIC\n"
    "       mirk3-pack sign --key PRIVATE --model MODEL [--list-name NAME] IN.tar OUT.tar\n"
    "       mirk3-pack tar OUT.tar [NAME=]FILE...\n"
    "       mirk3-pack oneclick --exe PROGRAM [--bl|--ap|--cp|--csc|--ums FILE]\n"
    "                 [--bl-type|--ap-type|--cp-type|--csc-type|--ums-type 1|3|4] [--pit FILE]\n"
    "                 [--repartition] [--no-auto-reboot] [--efs-clear] [--boot-update] --out FILE\n"
    "\n"
    "  md5     writes FILE.tar.md5: the tar followed by its MD5 trailer line\n"
    "  keygen  makes an RSA-2048 key pair; PUBLIC is the key file the station reads\n"
    "  sign    writes OUT.tar: IN.tar with a signed content list of its members under\n"
    "          meta-data/ (NAME defaults to meta-data/fota.mf)\n"
    "  tar     writes a plain tar of the files, each stored under the name given, or under\n"
    "          NAME when written as NAME=FILE; the station takes names of at most 31 bytes\n"
    "          for the members it sends (meta-data/ and partition tables may be longer)\n"
    "  oneclick writes FILE: the station PROGRAM (mirk3-cli or mirk3) carrying up to five\n"
    "          packages, a partition table and the run's flags, which flashes phones with no\n"
    "          package to pick. Slot types: 1 plain tar (the default), 3 .tar.md5 (the default\n"
    "          for one), 4 tar whose members are stored compressed. The partition table is\n"
    "          written to phones only with --repartition. The whole must fit in 4 GiB.\n"
    "\n"
    "Every output is written beside its final name and renamed into place when whole; an\n"
    "output that is not a regular file, or that is one of the command's inputs, is refused.\n";

using Args = std::vector<std::string>;

int Usage(std::ostream& err, const std::string& problem) {
  err << "mirk3-pack: " << problem << "\n" << USAGE;
  return EXIT_USAGE;
}

int Failed(std::ostream& err, const std::string& message) {
  err << "mirk3-pack: " << message << "\n";
  return EXIT_FAILED;
}

int RunMd5(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return Usage(err, "md5 takes one tar file");
  std::string error;
  if (!WriteMd5Package(args[0], error)) return Failed(err, error);
  out << "wrote " << args[0] << ".md5\n";
  return EXIT_DONE;
}

int RunKeygen(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 2) return Usage(err, "keygen takes a private and a public key file");
  if (args[0] == args[1]) return Usage(err, "the two key files must differ");
  std::string error;
  if (!WriteNewKeyPair(args[0], args[1], error)) return Failed(err, error);
  out << "wrote private key " << args[0] << " and public key " << args[1] << "\n";
  return EXIT_DONE;
}

int RunSign(const Args& args, std::ostream& out, std::ostream& err) {
  std::map<std::string, std::optional<std::string>> options = {
      {"--key", std::nullopt}, {"--model", std::nullopt}, {"--list-name", std::nullopt}};
  Args files;
  for (size_t i = 0; i < args.size(); ++i) {
    const auto option = options.find(args[i]);
    if (option == options.end()) {
      if (args[i].starts_with("--")) return Usage(err, "unknown option " + args[i]);
      files.push_back(args[i]);
    } else if (i + 1 == args.size()) {
      return Usage(err, args[i] + " needs a value");
    } else {
      option->second = args[++i];
    }
  }
  if (!options["--key"] || !options["--model"]) return Usage(err, "sign needs --key and --model");
  if (files.size() != 2) return Usage(err, "sign takes an input and an output tar");

  SignRequest request;
  std::string error;
  if (!LoadPrivateKeyFile(*options["--key"], request.privateKeyText, error)) {
    return Failed(err, error);
  }
  request.model = *options["--model"];
  request.inPath = files[0];
  request.outPath = files[1];
  request.keyPath = *options["--key"];
  if (options["--list-name"]) request.listName = *options["--list-name"];
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

int RunTar(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) return Usage(err, "tar takes an output file and at least one file");
  const std::string& outPath = args[0];
  std::vector<TarMemberArg> members;
  std::vector<std::string> inputs;
  for (size_t i = 1; i < args.size(); ++i) {
    members.push_back(ParseTarMember(args[i]));
    const std::string problem = StationNameProblem(members.back().name);
    if (!problem.empty()) return Failed(err, problem);
    inputs.push_back(members.back().path);
  }
  TarWriter writer;
  bool ok = writer.Open(outPath, inputs);
  for (const TarMemberArg& member : members) ok = ok && writer.AddFile(member.name, member.path);
  if (!ok || !writer.Finish()) return Failed(err, writer.Error());
  out << "wrote " << outPath << " with " << members.size() << " members\n";
  return EXIT_DONE;
}

// The option of a slot's package ("--ap") and of its type ("--ap-type").
std::string SlotOption(int slot, const char* suffix = "") {
  std::string name = SLOT_NAMES[slot];
  for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
  return "--" + name + suffix;
}

// Fills `request` from the arguments; an empty result, or the usage problem.
std::string ParseOneClick(const Args& args, OneClickRequest& request) {
  const std::map<std::string, bool*> flags = {{"--repartition", &request.rePartition},
                                              {"--efs-clear", &request.efsClear},
                                              {"--boot-update", &request.bootUpdate}};
  std::map<std::string, std::string*> values = {
      {"--exe", &request.programPath}, {"--out", &request.outPath}, {"--pit", &request.pitPath}};
  std::array<std::string, SLOT_COUNT> types;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    values[SlotOption(slot)] = &request.packages[slot].path;
    values[SlotOption(slot, "-type")] = &types[slot];
  }
  std::set<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!seen.insert(arg).second) return arg + " is given twice";
    if (arg == "--no-auto-reboot") {
      request.autoReboot = false;
    } else if (const auto flag = flags.find(arg); flag != flags.end()) {
      *flag->second = true;
    } else if (const auto value = values.find(arg); value != values.end()) {
      if (i + 1 == args.size() || args[i + 1].empty() || args[i + 1].starts_with("--")) {
        return arg + " needs a value";
      }
      *value->second = args[++i];
    } else {
      return arg.starts_with("--") ? "unknown option " + arg : "unexpected argument " + arg;
    }
  }
  if (request.programPath.empty() || request.outPath.empty()) {
    return "oneclick needs --exe and --out";
  }
  bool any = false;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    any = any || !request.packages[slot].path.empty();
    if (types[slot].empty()) continue;
    if (types[slot] != "1" && types[slot] != "3" && types[slot] != "4") {
      return SlotOption(slot, "-type") + " takes 1, 3 or 4";
    }
    if (request.packages[slot].path.empty()) {
      return SlotOption(slot, "-type") + " needs " + SlotOption(slot);
    }
    request.packages[slot].type = static_cast<int16_t>(types[slot][0] - '0');
  }
  return any ? "" : "oneclick needs at least one package";
}

int RunOneClick(const Args& args, std::ostream& out, std::ostream& err) {
  OneClickRequest request;
  const std::string problem = ParseOneClick(args, request);
  if (!problem.empty()) return Usage(err, problem);
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

}  // namespace

int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, "no command given");
  const std::string& command = args[0];
  const Args rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    out << USAGE;
    return EXIT_DONE;
  }
  if (command == "md5") return RunMd5(rest, out, err);
  if (command == "keygen") return RunKeygen(rest, out, err);
  if (command == "sign") return RunSign(rest, out, err);
  if (command == "tar") return RunTar(rest, out, err);
  if (command == "oneclick") return RunOneClick(rest, out, err);
  return Usage(err, "unknown command " + command);
}

}  // namespace mirk3::pack
