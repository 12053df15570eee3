// Command-line paths made absolute or relative; deleting files and creating directory chains
// with failures reported on the error stream.
#pragma once

#include <string>
#include <vector>

namespace kam {

// The process's current directory.
std::string current_directory();

// A path is absolute when it starts with a separator or has a drive letter ("c:"); others are
// taken relative to the current directory. "." components go, ".." removes the component before
// it (never the root or the drive), separators become '\' and letters lower case:
// "..\x" against /a/b gives \a\x, and "C:\A\..\x" gives c:\x.
std::string make_absolute(const std::string& path);
std::string make_absolute(const std::string& path, const std::string& current);

// The path relative to the base directory: shared leading components (compared byte for byte,
// so pass paths make_absolute produced) are dropped, each remaining base component becomes
// "..\"; "." when nothing remains.
std::string make_relative(const std::string& base, const std::string& path);

// Whether the two paths reach one file: the same file identity when both exist (so links and
// other spellings count), else the same make_absolute form.
bool same_file(const std::string& a, const std::string& b);

// Throws std::runtime_error "The output " + output + " is the input " + input + "; nothing was
// written" for the first output that is the same file as an input: writing it would destroy what
// the run reads.
void check_outputs_are_not_inputs(const std::vector<std::string>& outputs,
                                  const std::vector<std::string>& inputs);

// Creates every missing directory of the chain; a failure writes "Cant create directory \"" +
// prefix + "\" (" + system text + ")" to the error stream and goes on. The root or drive of an
// absolute path is never created.
void create_directories(const std::string& path);

}  // namespace kam
