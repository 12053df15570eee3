// The command handlers; each reads its flags and arguments from CommandLine::current.
#pragma once

int compile_scripts_command();
int compile_xml_command();
int merge_logs_command();
int bundle_command();
int quick_bundle_command();
int make_patch_command();
int list_command();
int extract_command();
