// The code generator: declaration records and the code of every instruction, in one buffer.
#pragma once

#include "script/code_buffer.h"
#include "script/parser.h"

namespace kam::script {

// Writes the declaration records of the parsed program (imports, functions with their code
// offsets, classes with their methods and members, objects, in global-scope order), record 0,
// then the code of every instruction. A name that does not resolve or an operand beyond the
// bytecode's limits is added to the parser's error text; the result is then false and the code
// is not to be used. Call it once per parser, after a successful parse.
bool generate(Parser& parser, CodeBuffer& code);

}  // namespace kam::script
