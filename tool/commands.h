// The command handlers; each reads its flags and arguments from CommandLine::current.
#pragma once

#include <span>
#include <string>

// Whether a command's first argument asks for its usage text: none, -h or --help.
bool asks_for_help(const std::string& first);
// When first asks for help, prints the lines, each ended by a line break, and returns true.
bool printed_usage(const std::string& first, std::span<const char* const> lines);

int compile_scripts_command();
int compile_xml_command();
int merge_logs_command();
int bundle_command();
int quick_bundle_command();
int make_patch_command();
int list_command();
int extract_command();
