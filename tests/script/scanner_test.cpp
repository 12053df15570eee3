// Tokens, positions and failures of the script scanner.
#include "script/scanner.h"

#include <gtest/gtest.h>

#include "support/script_tokens.h"

namespace {

using kam::script::StringScanner;
using test::PieceScanner;
using test::scan_all;

std::string scan_all(const std::string& source) {
    StringScanner scanner(source);
    return scan_all(scanner);
}

TEST(ScannerTest, TokensOfTheLanguage) {
    const std::pair<std::string, std::string> cases[] = {
        {"a:=b", "258:a 278::= 258:b end"},
        {"a: = b", "258:a 58:: 270:= 258:b end"},
        {"x<>y x<=y x<y x< y x>=y x>y",
         "258:x 269:<> 258:y 258:x 272:<= 258:y 258:x 271:< 258:y 258:x 271:< "
         "258:y 258:x 273:>= 258:y 258:x 274:> 258:y end"},
        {"%()*+,-./;={}",
         "37:% 40:( 41:) 42:* 43:+ 44:, 45:- 46:. 47:/ 59:; 270:= 123:{ 125:} end"},
        {"12.5.3 1. 007 .5", "260:12.5 46:. 260:3 260:1. 260:007 46:. 260:5 end"},
        {"True true false If if _x9 x_1 this_x",
         "258:True 262:true 262:false 258:If 279:if 258:_x9 258:x_1 258:this_x end"},
        {"void class object number string boolean this and or not else import return while for in",
         "261:void 263:class 264:object 265:number 266:string 267:boolean 268:this 275:and 276:or "
         "277:not "
         "280:else 281:import 282:return 283:while 284:for 285:in end"},
        {"/* a /* b */ c */ x", "258:x end"},
        {"/* a */ */", "42:* 47:/ end"},
        {"/* x **/ y */ z", "258:z end"},
        {"a // comment", "258:a end"},
        {"a // comment\nb", "258:a 258:b end"},
        {"a/b", "258:a 47:/ 258:b end"},
        {"\"\"\"a\"b\"\"c\"\"\"", "259:a\"b\"\"c end"},
        {"\"\"\"x\ny\"\"\"", "259:x\ny end"},
        {"\"\"x ''", "259: 258:x 259: end"},
        {"\"a\\tb\" 'c\\'d' \"\\\\\\\"\\n\\r\" 'e\"f'",
         "259:a\tb 259:c'd 259:\\\"\n\r 259:e\"f end"},
        {"\"a\\qb\"",
         "!Unrecognized escape sequence \"\\q\" 258:b !Unexpected end of file - \" expected end"},
        {"'\\\"'",
         "!Unrecognized escape sequence \"\\\"\" !Unexpected end of file - \" expected end"},
        {"\"ab\ncd", "!(2): Can't have strings over multiple lines \" expected 258:cd end"},
        {"'ab", "!Unexpected end of file - \" expected end"},
        {"\"\"\"ab", "!Unexpected end of file - \"\"\" expected end"},
        {"/* a /* b */", "!Unexpected end of file - */ expected end"},
        {"a [ b", "258:a !Unrecognized token 258:b end"},
        {"\f \r ]", "!Unrecognized token !Unrecognized token !Unrecognized token end"},
        {"\x80", "!Unrecognized token end"},
    };
    for (const auto& [source, expected] : cases) {
        // Messages without a name carry the line only after line 1 in these samples.
        std::string got = scan_all(source);
        size_t at;
        while ((at = got.find("!(1): ")) != std::string::npos)
            got.erase(at + 1, 5);
        EXPECT_EQ(got, expected) << source;
    }
}

TEST(ScannerTest, PositionsCountFromTheTokensFirstCharacter) {
    StringScanner scanner("ab c\n  d<e");
    const std::pair<int, int> expected[] = {{1, 1}, {1, 4}, {2, 3}, {2, 4}, {2, 5}, {2, 6}};
    for (const auto& [line, column] : expected) {
        const kam::script::Token token = scanner.next_token();
        EXPECT_EQ(token.line, line) << token.text;
        EXPECT_EQ(token.column, column) << token.text;
    }
}

// Tokens read in place from the supplied bytes match those read a character at a time.
TEST(ScannerTest, SuppliedBytesScanAsCharactersOneByOne) {
    const std::string sources[] = {"a:=b<>c<=d>=e:f<g>h=i",
                                   "x.y(1, 2.5) % 3; {z}",
                                   "12.5.3 1. 007 .5 a1_b",
                                   "f() {\n\tobject a, b;\n                    if (a <= 10.5) {\n" +
                                       std::string(17, ' ') +
                                       "b := \"s\" + a; // c\n        }\n}\n",
                                   "a /* b\n c */ d\n// e\n  f",
                                   "if iff i in import True true not notx",
                                   "a [ b \x80 c",
                                   "a:",
                                   "a<",
                                   "7.",
                                   "ab\n"};
    for (const std::string& source : sources) {
        PieceScanner one_by_one(source, 1);
        const std::string expected = scan_all(one_by_one, true);
        StringScanner whole(source);
        EXPECT_EQ(scan_all(whole, true), expected) << source;
        for (const size_t piece : {2, 3, 5}) {
            PieceScanner pieces(source, piece);
            EXPECT_EQ(scan_all(pieces, true), expected) << source << " in pieces of " << piece;
        }
    }
}

}  // namespace
