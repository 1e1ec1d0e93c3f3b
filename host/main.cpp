// pixora: lists, inspects and applies components, and runs graph files.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "host/Host.h"

namespace {

const char* KUsage =
    "usage: pixora <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  list                               components by palette category, with display names\n"
    "  inspect CLASS                      pins and properties: type, default, range, members\n"
    "  apply CLASS INPUT... OUTPUT [--set PROP=VALUE]... [--frames N]\n"
    "                                     runs one component over images or videos\n"
    "  run GRAPH.json [--frames N] [--live] [--save FILE]\n"
    "                                     runs a graph file\n"
    "\n"
    "'pixora <command> --help' tells more about a command.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace pixora::host;
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        std::fputs(KUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    const TArgs args(argv + 2, argv + argc);
    try {
        if (command == "list") return CmdList(args);
        if (command == "inspect") return CmdInspect(args);
        if (command == "apply") return CmdApply(args);
        if (command == "run") return CmdRun(args);
        throw TUsageError{"unknown command '" + command + "'"};
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "pixora: %s (see 'pixora %s--help')\n", e.Message.c_str(),
                     command == "list" || command == "inspect" || command == "apply" || command == "run"
                         ? (command + " ").c_str()
                         : "");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pixora: error: %s\n", e.what());
        return 1;
    }
}
