// Operand encodings, limits and the line table of the code buffer.
#include "script/code_buffer.h"

#include <gtest/gtest.h>

#include "script/script_error.h"
#include "support/error_of.h"

namespace {

using kam::script::CodeBuffer;
using kam::script::GeneratorError;
using kam::script::Opcode;
using Bytes = std::vector<std::uint8_t>;

TEST(CodeBufferTest, EncodesOperandsLittleEndianWithPaddedNames) {
    CodeBuffer buffer;
    buffer.write(Opcode::end, 0);
    buffer.write_name(Opcode::push_string, "abc", 3);
    buffer.write_name(Opcode::member, "abcde", 4);
    buffer.write_name(Opcode::import, std::string_view("a\0b", 3), 0);
    buffer.write_count(Opcode::push_global_value, 0x1234, 5);
    buffer.write_offset(Opcode::bra, -1, 6);
    buffer.write_number(1.0f, 7);
    buffer.write_function(0x10, "f", 0);
    const Bytes expected = {0,    7,    'a', 'b', 'c', 0,   0, 44, 'a', 'b',  'c',
                            'd',  'e',  0,   1,   'a', 0,   0, 0,  0,   12,   0x34,
                            0x12, 41,   255, 255, 255, 255, 6, 0,  0,   0x80, 0x3f,
                            3,    0x10, 0,   0,   0,   'f', 0, 0,  0,   0};
    EXPECT_EQ(buffer.code(), expected);
    ASSERT_EQ(buffer.lines().size(), expected.size());
    EXPECT_EQ(buffer.lines()[1], 3);
    EXPECT_EQ(buffer.lines()[2], -1);
    EXPECT_EQ(buffer.lines()[20], 5);
    EXPECT_EQ(buffer.lines()[22], -1);

    buffer.patch_offset(23, 0x01020304);
    EXPECT_EQ(Bytes(buffer.code().begin() + 23, buffer.code().begin() + 28),
              (Bytes{41, 4, 3, 2, 1}));
    // An operand past the last word of instruction starts has no line either.
    CodeBuffer wide;
    for (int i = 0; i < 63; ++i)
        wide.write(Opcode::end, 1);
    wide.write_count(Opcode::push_global_value, 1, 2);
    EXPECT_EQ(wide.lines()[64], -1);
}

TEST(CodeBufferTest, OperandLimitsAcceptTheMaximumAndRejectOneMore) {
    const std::tuple<Opcode, std::int64_t, const char*> cases[] = {
        {Opcode::push_global_value, 65535, "More than 65536 local variables not supported"},
        {Opcode::push_global_reference, 65535, "More than 65536 local variables not supported"},
        {Opcode::push_member_value, 255, "More than 256 class members not supported"},
        {Opcode::push_member_reference, 255, "More than 256 class members not supported"},
        {Opcode::push_local_value, 255, "More than 256 local variables not supported"},
        {Opcode::push_local_reference, 255, "More than 256 local variables not supported"},
        {Opcode::resize_locals, 255, "More than 256 local variables not supported"},
        {Opcode::call, 255, "More than 256 parameters not supported"},
    };
    for (const auto& [opcode, limit, message] : cases) {
        CodeBuffer buffer;
        EXPECT_NO_THROW(buffer.write_count(opcode, limit, 1));
        const std::uint32_t size = buffer.size();
        EXPECT_EQ(test::error_of<GeneratorError>(
                      [&, o = opcode, l = limit] { buffer.write_count(o, l + 1, 2); }),
                  message);
        // The opcode byte stays; the operand does not.
        EXPECT_EQ(buffer.size(), size + 1);
    }
}

}  // namespace
