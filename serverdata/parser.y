/* The grammar of the shared parser: data-set text, router tables and WSSP
 * pages. The driver hands the grammar a first token that names the mode;
 * the productions of each mode start from "input" in their own section.
 * Token codes are fixed: the scanner returns them and the page nodes keep
 * them as operator codes. There is no error recovery: the first token no
 * production accepts ends the parse with "syntax error". The state stack
 * starts at 200 entries and grows to 10000, then "memory exhausted". */

%define api.prefix {cgparser}
%define api.value.type union
%define parse.error simple

%code requires {
/* ---- common ---- */
/* ---- data mode ---- */
/* ---- router mode ---- */
namespace cgp {
struct RouterEntry;
struct Route;
}
/* ---- page mode ---- */
}

%code {
#include "serverdata/parser.h"
#include "serverdata/parser_actions.h"
}

%start input

/* ---- common ---- */

/* The first token, from the driver. */
%token MODE_PAGE 376 MODE_ROUTER 377 MODE_DATA 378
/* Any byte no token shape takes. */
%token BAD_CHARACTER 375
/* Token texts go back to the scanner, also those a failed parse drops. */
%destructor { cgp::freeToken($$); } <char*>

/* ---- data mode ---- */

%token <char*> ATOM 258 DATA_BLOCK 259 QUOTED_STRING 288
%token OPEN_PAREN 260 CLOSE_PAREN 261 OPEN_BRACE 262 CLOSE_BRACE 263
%token SEMICOLON 264 EQUALS 265 COMMA 273
%type <int> data_list data_item data_value data_array data_dictionary data_pairs
%type <int> data_string data_qstring data_block
/* The conflicts of all modes, counted here. Data mode has one: a quoted
   value followed by a quoted key, "{a = "x" "k" = y}", joins the two as one
   string, as quoted strings side by side always form one; the writer puts
   ";" after every member. */
%expect 1

/* ---- router mode ---- */

%token <char*> ROUTER_ATOM 278 QUOTED_ATOM 276
%token LINE_PREFIX 277 LINE_END 279 LESS_THAN 274 GREATER_THAN 275
%type <cgp::Route*> router_line router_rule
%type <cgp::RouterEntry*> router_pattern router_target
/* What a failed parse leaves on the stack. */
%destructor { cgp::freeRoute($$); } <cgp::Route*>
%destructor { cgp::freeRouterEntry($$); } <cgp::RouterEntry*>

/* ---- page mode ---- */

%%

/* ---- data mode ---- */

input
    : MODE_DATA
    | MODE_DATA data_list                   { cgp::dsSetResult($2); }
    ;

data_list
    : data_item                             { $$ = cgp::dsNewArrayWith($1); }
    | data_list COMMA data_item             { $$ = cgp::dsArrayAppend($1, $3); }
    ;

data_item
    : data_value SEMICOLON                  { $$ = $1; }
    | data_value                            { $$ = $1; }
    ;

data_value
    : data_array
    | data_dictionary
    | data_string
    | data_block
    ;

data_array
    : OPEN_PAREN CLOSE_PAREN                { $$ = cgp::dsNewArray(); }
    | OPEN_PAREN data_list CLOSE_PAREN      { $$ = $2; }
    ;

data_dictionary
    : OPEN_BRACE CLOSE_BRACE                { $$ = cgp::dsNewDictionary(); }
    | OPEN_BRACE data_pairs CLOSE_BRACE     { $$ = $2; }
    ;

data_pairs
    : data_string EQUALS data_item             { $$ = cgp::dsNewDictionaryWith($1, $3); }
    | data_pairs data_string EQUALS data_item  { $$ = cgp::dsDictionarySet($1, $2, $4); }
    ;

data_string
    : ATOM                                  { $$ = cgp::dsNewString($1); cgp::freeToken($1); }
    | data_qstring
    ;

data_qstring
    : QUOTED_STRING                         { $$ = cgp::dsNewString($1); cgp::freeToken($1); }
    | data_qstring QUOTED_STRING            { $$ = cgp::dsAppendText($1, $2); cgp::freeToken($2); }
    ;

data_block
    : DATA_BLOCK                            { $$ = cgp::dsNewData($1); cgp::freeToken($1); }
    ;

/* ---- router mode ---- */

/* A table: lines of a pattern, "=" and a target (or none: the main domain),
   optionally after a prefix word and a colon, between any number of line
   ends. The scanner gives one line end more at the end of the input. */
input
    : MODE_ROUTER router_table
    ;

router_table
    : router_line_ends
    | router_line router_line_ends              { cgp::addRouterEntry($1); }
    | router_table router_line router_line_ends { cgp::addRouterEntry($2); }
    ;

router_line_ends
    : LINE_END
    | router_line_ends LINE_END
    ;

router_line
    : router_rule
    | LINE_PREFIX router_rule               { $$ = $2; }
    ;

router_rule
    : router_pattern EQUALS router_target   { $$ = cgp::makeRoute($1, $3); }
    | router_pattern EQUALS                 { $$ = cgp::makeRoute($1, nullptr); }
    ;

router_pattern
    : LESS_THAN ROUTER_ATOM GREATER_THAN    { $$ = cgp::makeAddressEntry($2, true); cgp::freeToken($2); }
    | ROUTER_ATOM                           { $$ = cgp::makeAddressEntry($1, false); cgp::freeToken($1); }
    ;

router_target
    : ROUTER_ATOM                           { $$ = cgp::makeAddressEntry($1, false); cgp::freeToken($1); }
    | QUOTED_ATOM                           { $$ = cgp::makeAddressEntry($1, false); cgp::freeToken($1); }
    ;

/* ---- page mode ---- */

%%
