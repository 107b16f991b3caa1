// veltora help [TOPIC]: every subcommand with what it does and an example,
// or one subcommand's (TOPIC); `veltora TOPIC --help` lists its options.
#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/host_error.h"

namespace veltora::host {
namespace {

// One example per subcommand; a test checks that none is missing.
const std::map<std::string, const char*, std::less<>> kExamples = {
    {"info", "veltora info --json photos/ > records.json"},
    {"version", "veltora version"},
    {"formats", "veltora formats"},
    {"supported", "veltora supported a.JPG b.zip"},
    {"check", "veltora check -r photos/"},
    {"exif", "veltora exif IMG_0001.JPG"},
    {"get", "veltora get IMG_0001.JPG exif 33434"},
    {"maker", "veltora maker IMG_0001.JPG"},
    {"orientation", "veltora orientation -j 4 photos/"},
    {"date", "veltora date *.jpg"},
    {"set-orientation", "veltora set-orientation 6 -r photos/ --in-place"},
    {"set-date", "veltora set-date \"2024:05:14 09:30:05\" IMG_0001.JPG --in-place -P"},
    {"shift-date", "veltora shift-date -1:00 -r photos/ --output-dir fixed/"},
    {"gps", "veltora gps --lat 48.8584 --lon 2.2945 *.jpg --output-dir tagged/"},
    {"thumb", "veltora thumb --from small.png IMG_0001.JPG -o new.jpg"},
    {"replace-image", "veltora replace-image --from edited.png IMG_0001.JPG -o new.jpg"},
    {"append", "veltora info --json b.jpg | veltora append --from - a.jpg -o c.jpg"},
    {"copy-exif", "veltora copy-exif original.jpg edited/ --in-place"},
    {"decode", "veltora decode IMG_0001.JPG -o picture.png"},
    {"encode", "veltora encode picture.png -o picture.jpg --quality 85"},
    {"draw", "veltora draw IMG_0001.JPG -o turned.png --size 640x480 --angle 90"},
    {"help", "veltora help set-orientation"},
};

void PrintTopic(const CommandDefinition& command) {
  const auto example = kExamples.find(command.name);
  fmt::print("{}\n    {}\n    example: {}\n", command.name, command.description,
             example == kExamples.end() ? "(none)" : example->second);
}

int RunHelp(const std::string& topic) {
  const std::vector<CommandDefinition> commands = RegisteredCommands();
  if (topic.empty()) {
    fmt::print("veltora SUBCOMMAND [options] FILE...   (veltora SUBCOMMAND --help: its options)\n\n");
    for (const CommandDefinition& command : commands) PrintTopic(command);
    fmt::print(
        "\nFiles: a folder stands for its pictures, -r also takes sub-folders, -j N runs N files at "
        "a time.\nEdits write to -o FILE (- for stdout), --output-dir DIR or --in-place; an existing "
        "output needs --force;\n-P keeps the modification time, --dry-run writes nothing.\n"
        "Exit status: 0 all files succeeded, 1 a file failed, 2 the command could not run.\n");
    return kExitOk;
  }
  const auto found = std::find_if(commands.begin(), commands.end(),
                                  [&](const CommandDefinition& c) { return topic == c.name; });
  if (found == commands.end()) throw HostError("no help topic " + topic + "; `veltora help` lists them");
  PrintTopic(*found);
  fmt::print("\nveltora {} --help lists its options.\n", topic);
  return kExitOk;
}

CommandAction SetUpHelp(CLI::App& command) {
  CommandOptions add(command);
  auto topic = std::make_shared<std::string>();
  add.Option("TOPIC", *topic, "A subcommand");
  return [topic](Host&) { return RunHelp(*topic); };
}

const CommandRegistration kHelp({"help", "Every subcommand with an example, or one (TOPIC)", 500,
                                 &SetUpHelp});

}  // namespace
}  // namespace veltora::host
