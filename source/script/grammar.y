/* The script language's grammar. Actions are one-line calls into the parser's helpers. */
%code requires {
#include "script/parser.h"
}

%code {
#include "script/scanner.h"

int script_yylex(SCRIPT_YYSTYPE* value, kam::script::Parser& parser);
void script_yyerror(kam::script::Parser& parser, const char* message);

/* The state stack holds 500 entries and never grows: deeper nesting ends the parse. */
#define YYINITDEPTH 500
#define YYMAXDEPTH 500
#define yyoverflow(...) parser.report_stack_overflow()
/* With the fixed stack the driver's own out-of-memory exit is never taken. */
#pragma GCC diagnostic ignored "-Wunused-label"

using kam::script::SemanticValue;
namespace value_kind = kam::script::value_kind;
namespace command = kam::script::command;
namespace binary_op = kam::script::binary_op;
}

%define api.prefix {script_yy}
%define api.pure full
%define api.value.type {kam::script::SemanticValue}
%parse-param {kam::script::Parser& parser}
%lex-param {kam::script::Parser& parser}

/* A block's leading declarations also see "object" as the start of a statement: shifting keeps
   it a declaration, which compiles the same. Any other conflict breaks the build. */
%expect 1
%left OR
%left AND
%precedence NOT
%left '+' '-'
%left '*' '/' '%'
%precedence NEGATE

%token ID 258 STRING 259 NUMBER 260 VOID 261 BOOLEAN 262 CLASS 263 OBJECT 264
%token NUMBER_TYPE 265 STRING_TYPE 266 BOOLEAN_TYPE 267 THIS 268
%token NE 269 EQ 270 LT 271 LE 272 GE 273 GT 274 AND 275 OR 276 NOT 277 ASSIGN 278
%token IF 279 ELSE 280 IMPORT 281 RETURN 282 WHILE 283 FOR 284 IN 285
%token SCANNER_FAILURE 286

%%

/* Lists are left-recursive so that their length never fills the state stack; only nesting does. */

program
    : import_list object_decls definitions
    | error { parser.report($1.line, "Unexpected token"); yyclearin; } program
    ;

import_list
    : %empty
    | import_list import_decl
    ;

import_decl
    : IMPORT dotted_list ';'
    | IMPORT error ';' { parser.report($1.line, "Import error, undefined error in ID list"); yyclearin; }
    ;

dotted_list
    : import_name
    | dotted_list ',' import_name
    ;

import_name
    : dotted_name { parser.add_import($1.text, $1.line); }
    ;

dotted_name
    : ID
    | dotted_name '.' ID { $$ = $1; $$.text = parser.join_dotted($1.text, $3.text); }
    ;

definitions
    : %empty
    | definitions function
    | definitions class_decl
    ;

function
    : function_name '(' parameters ')' { parser.end_parameters(); } body { parser.end_function($6); }
    | ID error '}' { parser.report($1.line, "Unexpected token"); yyclearin; }
    ;

function_name
    : ID { parser.begin_function($1.text, $1.line); }
    ;

/* A list may end with a comma: f(a,) */
parameters
    : %empty
    | parameter_list
    | parameter_list ','
    ;

parameter_list
    : parameter
    | parameter_list ',' parameter
    ;

parameter
    : ID { parser.declare_parameter($1.text, $1.line); }
    ;

class_decl
    : class_head '{' object_decls class_functions '}' { parser.end_class($1.first); }
    | CLASS error { parser.report($1.line, "Undefined error while definine class"); yyclearin; }
    ;

class_head
    : CLASS ID { $$ = parser.no_value(); $$.first = parser.begin_class($2.text, $2.line); }
    ;

class_functions
    : class_functions function
    | error { parser.report($1.line, "Undefined error while definine class body"); }
    | %empty
    ;

block
    : '{' { $$ = parser.no_value(); $$.first = parser.open_block(); } object_decls statements '}'
      { parser.close_block($2.first); $$ = $4; }
    ;

body
    : block
    | error '{' { parser.report($1.line, "Expected \"{\""); $$ = parser.no_value(); }
    ;

object_decls
    : object_decls object_decl
    | %empty
    ;

object_decl
    : OBJECT declarators ';'
    | OBJECT error ';' { parser.report($1.line, "Error declaring objects"); yyclearin; }
    ;

declarators
    : declarator
    | declarators ',' declarator
    ;

declarator
    : ID { parser.declare_object($1.text, $1.line); }
    | ID ASSIGN { parser.begin_initializer($1.text, $1.line); } expression { parser.end_initializer($4); }
    ;

/* Assignments and calls, most statements, have no jumps to merge and no reduction of their own. */
statements
    : statements statement { $$ = parser.no_value(); $$.first = parser.merge($1.first, $2.first); }
    | statements target ASSIGN expression ';' { parser.end_assignment($4); $$ = parser.no_value(); $$.first = $1.first; }
    | statements target ';' { parser.end_call_statement(); $$ = parser.no_value(); $$.first = $1.first; }
    | %empty { $$ = parser.no_value(); }
    ;

statement
    : while_statement
    | for_statement
    | if_statement
    | return_statement
    | block
    | object_decl { $$ = parser.no_value(); }
    | ';' { $$ = parser.no_value(); }
    | error { parser.report_statement_error($1.line); yyclearin; $$ = parser.no_value(); }
    ;

target
    : ID { parser.push_target_value($1.text, $1.line); } suffixes
    | ID { parser.push_target_reference($1.text, $1.line); }
    ;

/* Values carry the line of their first token in place of a location stack; the error token's is
   that of the last token read. The value of a mark is the instruction number where the construct
   begins. */
keyword_mark
    : %empty { $$ = parser.no_value(); $$.first = parser.mark_keyword($0.line); }
    ;

/* Follows a test ($0): its true jumps come here, its false jumps are carried on. */
branch_body
    : %empty { $$ = parser.enter_branch($0); }
    ;

/* Follows "test branch_body body else": $-2 is the branch whose false jumps come here. */
else_mark
    : %empty { $$ = parser.no_value(); $$.first = parser.enter_else($-2); }
    ;

while_statement
    : WHILE keyword_mark test branch_body body { $$ = parser.end_while($2.first, $4, $5); }
    | WHILE error { parser.report($1.line, "while: Expected \"( <test expression> )\""); yyclearin; $$ = parser.no_value(); }
    ;

for_statement
    : FOR for_head body { $$ = parser.end_for($2, $3); }
    | FOR error { parser.report($1.line, "for: Expected (<id> in <expr>)"); yyclearin; $$ = parser.no_value(); }
    ;

for_head
    : '(' ID IN { $$ = parser.no_value(); $$.first = parser.begin_for($2.text, nullptr, $2.line); } expression ')'
      { $$ = parser.for_loop_head($4.first, $2.text, nullptr, $5); }
    | '(' ID ',' ID IN { $$ = parser.no_value(); $$.first = parser.begin_for($2.text, $4.text, $2.line); } expression ')'
      { $$ = parser.for_loop_head($6.first, $2.text, $4.text, $7); }
    ;

if_statement
    : IF keyword_mark test branch_body body ELSE else_mark body { $$ = parser.end_if_else($7.first, $5, $8); }
    | IF keyword_mark test branch_body body ELSE else_mark if_statement { $$ = parser.end_if_else($7.first, $5, $8); }
    | IF keyword_mark test branch_body body { $$ = parser.end_if($4, $5); }
    | IF error { parser.report($1.line, "if: error in statement"); yyclearin; $$ = parser.no_value(); }
    ;

return_statement
    : RETURN ';' { $$ = parser.return_statement($1.line, nullptr); }
    | RETURN expression ';' { $$ = parser.return_statement($1.line, &$2); }
    ;

test
    : '(' expression ')' { $$ = parser.to_condition($2); }
    | '(' error ')' { parser.report($1.line, "Not a valid test expression"); yyclearin; $$ = parser.empty_condition(); }
    ;

/* Conditions are one level too, ordered by precedence: NOT binds before AND, AND before OR.
   Comparisons take arithmetic operands and do not associate: a < b < c is a syntax error, and
   NOT cannot follow a comparison's operator. */
expression
    : expression OR { $$ = parser.or_left($1); } expression { $$ = parser.or_right($3, $4); }
    | expression AND { $$ = parser.and_left($1); } expression { $$ = parser.and_right($3, $4); }
    | NOT expression { $$ = parser.negate_condition($2); }
    | sum LT sum { $$ = parser.binary(binary_op::lt, $1, $3); }
    | sum LE sum { $$ = parser.binary(binary_op::le, $1, $3); }
    | sum EQ sum { $$ = parser.binary(binary_op::eq, $1, $3); }
    | sum NE sum { $$ = parser.binary(binary_op::ne, $1, $3); }
    | sum GT sum { $$ = parser.binary(binary_op::gt, $1, $3); }
    | sum GE sum { $$ = parser.binary(binary_op::ge, $1, $3); }
    | sum
    ;

/* Arithmetic is one level, ordered by precedence: a level per operator cost a reduction per
   operand each, a tenth of compiling a script. No comparison or NOT reaches in here. */
sum
    : sum '+' sum { $$ = parser.binary(binary_op::add, $1, $3); }
    | sum '-' sum { $$ = parser.binary(binary_op::sub, $1, $3); }
    | sum '*' sum { $$ = parser.binary(binary_op::mul, $1, $3); }
    | sum '/' sum { $$ = parser.binary(binary_op::div, $1, $3); }
    | sum '%' sum { $$ = parser.binary(binary_op::mod, $1, $3); }
    | '-' sum %prec NEGATE { $$ = parser.negate($2); }
    /* A postfix chain in an expression ends with deref. */
    | primary suffixes { $$ = parser.end_chain($2); }
    /* An operand without suffixes is a sum at once: a reduction fewer for most operands. Only a
       suffix ('.' or '(') after it makes it a primary, which nothing else can follow. */
    | '(' expression ')' { $$ = parser.materialize($2); }
    | NUMBER { $$ = parser.push_number($1.text, $1.line); }
    | STRING { $$ = parser.push_string($1.text, $1.line); }
    | BOOLEAN { $$ = parser.push_boolean($1.text, $1.line); }
    | VOID { $$ = parser.push_void($1.line); }
    | ID { $$ = parser.push_identifier($1.text, $1.line); }
    | THIS { $$ = parser.push_this($1.line); }
    ;

primary
    : '(' expression ')' { $$ = parser.materialize($2); }
    | NUMBER { $$ = parser.push_number($1.text, $1.line); }
    | STRING { $$ = parser.push_string($1.text, $1.line); }
    | BOOLEAN { $$ = parser.push_boolean($1.text, $1.line); }
    | VOID { $$ = parser.push_void($1.line); }
    | ID { $$ = parser.push_identifier($1.text, $1.line); }
    | THIS { $$ = parser.push_this($1.line); }
    ;

/* Members and calls, the common suffixes, take no reduction of their own. */
suffixes
    : '.' ID { $$ = parser.member($2.text, $2.line); }
    | '(' arguments ')' { $$ = parser.call($2.first); }
    | suffix
    | suffixes '.' ID { $$ = parser.member($3.text, $3.line); }
    | suffixes '(' arguments ')' { $$ = parser.call($3.first); }
    | suffixes suffix { $$ = $2; }
    ;

suffix
    : '.' NUMBER_TYPE { $$ = parser.convert(command::cnv_number, $2.line); }
    | '.' STRING_TYPE { $$ = parser.convert(command::cnv_string, $2.line); }
    | '.' BOOLEAN_TYPE { $$ = parser.convert(command::cnv_boolean, $2.line); }
    | '.' error { parser.report($1.line, "Expected ID as member reference"); yyclearin; $$ = parser.no_value(); }
    ;

arguments
    : %empty { $$ = parser.no_value(); $$.first = 0; }
    | argument_list
    | argument_list ','
    ;

argument_list
    : expression { parser.argument($1); $$ = parser.no_value(); $$.first = 1; }
    | argument_list ',' expression { parser.argument($3); $$ = $1; $$.first += 1; }
    ;

%%

int script_yylex(SCRIPT_YYSTYPE* value, kam::script::Parser& parser) { return parser.read_token(*value); }

void script_yyerror(kam::script::Parser& parser, const char* message) {
    parser.report_driver(message);
}

namespace kam::script {

static_assert(int{ID} == token::identifier && int{BOOLEAN} == token::boolean_literal && int{NE} == token::not_equal &&
              int{EQ} == token::equal && int{ASSIGN} == token::assign && int{IN} == token::kw_in &&
              int{SCANNER_FAILURE} == token::scanner_failure);

bool Parser::parse() {
    const int result = script_yyparse(*this);
    names_complete_ = true;
    return result == 0 && error_count_ == 0;
}

}  // namespace kam::script
