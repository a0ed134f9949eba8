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
#include <string>
namespace cgp {
class WsspNode;
}
}

%code {
#include "serverdata/internal/parser.h"
#include "serverdata/internal/parser_actions.h"
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

/* Codes as in the scanner's table; an operator node keeps its token's code.
   "(" ")" "," and the quoted string are data mode's tokens. */
%token <std::string*> PAGE_TEXT 267
%token <char*> PAGE_NAME 286 PAGE_NUMBER 287
%token PAGE_OPEN_BRACKET 268 PAGE_CLOSE_BRACKET 269 PAGE_BAR 270 PAGE_AMP 271 PAGE_DOT 272
%token PAGE_AND 280 PAGE_USING 281 PAGE_INLINE 282 PAGE_TAG_OPEN 283 PAGE_TAG_CLOSE 284
%token PAGE_COLON 285 PAGE_PERIOD 289
%token PAGE_INCLUDEARG 290 PAGE_SESSION 291 PAGE_SETTINGS 292 PAGE_ACCOUNTSETTINGS 293
%token PAGE_EXISTS 294 PAGE_DOESNOTEXIST 295 PAGE_NOT 296 PAGE_EQUALS 297 PAGE_EQUALSNOCASE 298
%token PAGE_ISINDEX 299 PAGE_ISFIRST 300 PAGE_ISEVEN 301 PAGE_CHECKED 302 PAGE_HASPARENTMAILBOX 303
%token PAGE_ISSTRING 304 PAGE_ISARRAY 305 PAGE_ISDICTIONARY 306 PAGE_ISDATE 307 PAGE_ISDATA 308
%token PAGE_NULL 309 PAGE_EMPTYSTRING 310 PAGE_EMPTYARRAY 311 PAGE_EMPTYDICTIONARY 312
%token PAGE_STRING 313 PAGE_DICTIONARY 314 PAGE_ARRAY 315 PAGE_TRANSLATE 316 PAGE_CONTAINS 317
%token PAGE_RANDOMELEMENT 318 PAGE_MONTHNAMES 319 PAGE_WEEKDAYS 320 PAGE_KNOWNCHARSETS 321
%token PAGE_KNOWNTIMEZONES 322
%token PAGE_IF 326 PAGE_ELIF 327 PAGE_ELSE 328 PAGE_ENDIF 329 PAGE_FOREACH 330 PAGE_FORALL 331
%token PAGE_HTML 332 PAGE_HTMLUTF8 333 PAGE_URL 334 PAGE_MAILBOXRAWNAME 335 PAGE_MAILBOXNAME 336
%token PAGE_MAILBOXLASTNAME 337 PAGE_URLMAILBOXPARENT 338 PAGE_JAVASCRIPT 339 PAGE_SIZE 340
%token PAGE_ROUNDSIZE 341 PAGE_TIME 342 PAGE_DATETIMESHORT 343 PAGE_DATETIME 344
%token PAGE_DATETIME_OPEN 345 PAGE_LOCALDATETIMESHORT 346 PAGE_LOCALDATETIME 347
%token PAGE_LOCALDATETIME_OPEN 348 PAGE_LOCALDATE 349 PAGE_DATEWEEK 350 PAGE_DATE 351
%token PAGE_HTMLTRUNCATED 352 PAGE_HTMLSUBST 353 PAGE_HTMLSUBSTMAILBOX 354
%token PAGE_HTMLSUBSTROUNDSIZE 355 PAGE_INDEX1 356 PAGE_INDEX 357
%token PAGE_IN 358 PAGE_EMPTYFOR 359 PAGE_ENDFOR 360 PAGE_INCLUDE 361 PAGE_DEFAULT 362
%token PAGE_DISPLAY 363 PAGE_NOINBOX 364
%token PAGE_NUMERICMENU 365 PAGE_TIMEMENU 366 PAGE_SIZEMENU 367 PAGE_ENUMMENU 368
%token PAGE_BOOLMENU 369 PAGE_MAILBOXMENU 370 PAGE_DAYTIMEMENU 371 PAGE_CALENDARTIMEMENU 372
%token PAGE_LOCALCALENDARTIMEMENU 373 PAGE_STRINGMENU 374
/* "&" binds more tightly than the bar; both group from the left. The
   member access binds more tightly still (page_operand). */
%left PAGE_BAR
%left PAGE_AMP
%type <cgp::WsspNode*> page_items page_open page_inline page_format page_statement page_if
%type <cgp::WsspNode*> page_expression page_operand page_member page_key page_primary page_element
%type <cgp::WsspNode*> page_call page_translated page_name page_string page_number
%type <cgp::WsspNode*> page_expression_list page_numbers page_menu page_default page_display
%type <cgp::WsspNode*> page_period page_noinbox
%type <int> page_unary page_nullary page_equals page_counter page_subst page_loop_word
%type <int> page_list_menu page_expression_menu page_calendar_menu
/* Nodes are not freed here when a parse fails: the loader frees every node
   it made (parser_actions.h). */
%destructor { delete $$; } <std::string*>

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

/* A builder that returns null has reported why (a page nested too deeply,
   loop names that differ); the parse ends there. */

input
    : MODE_PAGE                             { cgp::wsspBegin(); }
      page_items                            { if (!cgp::wsspSetResult(cgp::wsspPage($3))) YYABORT; }
    ;

/* Every statement is read after its "<!--%%", which the items before it
   take (page_open): the word after it tells a nested statement from the
   ELIF, ELSE, ENDIF, EMPTYFOR or ENDFOR that goes on with an open one. So
   the ELIF parts of an IF follow each other on the left, and the stack
   does not grow with their number. The builders wrap items as a page. */
page_items
    : %empty                                { $$ = nullptr; }
    | page_items PAGE_TEXT                  { $$ = cgp::wsspAppend($1, cgp::wsspText($2)); }
    | page_items page_inline                { $$ = cgp::wsspAppend($1, $2); }
    | page_open page_statement              { $$ = cgp::wsspAppend($1, $2); }
    ;

page_open
    : page_items PAGE_TAG_OPEN              { $$ = $1; }
    ;

page_inline
    : PAGE_INLINE page_expression PAGE_INLINE   { $$ = cgp::wsspInline(nullptr, $2); if (!$$) YYABORT; }
    | page_format page_expression PAGE_INLINE   { $$ = cgp::wsspInline($1, $2); if (!$$) YYABORT; }
    ;

page_format
    : PAGE_HTML                             { $$ = cgp::wsspOperator(PAGE_HTML, nullptr, nullptr); }
    | PAGE_HTMLUTF8                         { $$ = cgp::wsspOperator(PAGE_HTMLUTF8, nullptr, nullptr); }
    | PAGE_URL                              { $$ = cgp::wsspOperator(PAGE_URL, nullptr, nullptr); }
    | PAGE_MAILBOXRAWNAME                   { $$ = cgp::wsspOperator(PAGE_MAILBOXRAWNAME, nullptr, nullptr); }
    | PAGE_MAILBOXNAME                      { $$ = cgp::wsspOperator(PAGE_MAILBOXNAME, nullptr, nullptr); }
    | PAGE_MAILBOXLASTNAME                  { $$ = cgp::wsspOperator(PAGE_MAILBOXLASTNAME, nullptr, nullptr); }
    | PAGE_URLMAILBOXPARENT                 { $$ = cgp::wsspOperator(PAGE_URLMAILBOXPARENT, nullptr, nullptr); }
    | PAGE_JAVASCRIPT                       { $$ = cgp::wsspOperator(PAGE_JAVASCRIPT, nullptr, nullptr); }
    | PAGE_SIZE                             { $$ = cgp::wsspOperator(PAGE_SIZE, nullptr, nullptr); }
    | PAGE_ROUNDSIZE                        { $$ = cgp::wsspOperator(PAGE_ROUNDSIZE, nullptr, nullptr); }
    | PAGE_TIME                             { $$ = cgp::wsspOperator(PAGE_TIME, nullptr, nullptr); }
    | PAGE_DATETIMESHORT                    { $$ = cgp::wsspOperator(PAGE_DATETIMESHORT, nullptr, nullptr); }
    | PAGE_DATETIME                         { $$ = cgp::wsspOperator(PAGE_DATETIME, nullptr, nullptr); }
    | PAGE_LOCALDATETIMESHORT               { $$ = cgp::wsspOperator(PAGE_LOCALDATETIMESHORT, nullptr, nullptr); }
    | PAGE_LOCALDATETIME                    { $$ = cgp::wsspOperator(PAGE_LOCALDATETIME, nullptr, nullptr); }
    | PAGE_LOCALDATE                        { $$ = cgp::wsspOperator(PAGE_LOCALDATE, nullptr, nullptr); }
    | PAGE_DATEWEEK                         { $$ = cgp::wsspOperator(PAGE_DATEWEEK, nullptr, nullptr); }
    | PAGE_DATE                             { $$ = cgp::wsspOperator(PAGE_DATE, nullptr, nullptr); }
    | PAGE_INDEX1                           { $$ = cgp::wsspOperator(PAGE_INDEX1, nullptr, nullptr); }
    | PAGE_INDEX                            { $$ = cgp::wsspOperator(PAGE_INDEX, nullptr, nullptr); }
    | PAGE_INLINE PAGE_DATETIME_OPEN page_expression CLOSE_PAREN PAGE_COLON
                                            { $$ = cgp::wsspOperator(PAGE_DATETIME, $3, nullptr); }
    | PAGE_INLINE PAGE_LOCALDATETIME_OPEN page_expression CLOSE_PAREN PAGE_COLON
                                            { $$ = cgp::wsspOperator(PAGE_LOCALDATETIME, $3, nullptr); }
    | PAGE_INLINE PAGE_HTMLTRUNCATED page_expression CLOSE_PAREN PAGE_COLON
                                            { $$ = cgp::wsspOperator(PAGE_HTMLTRUNCATED, $3, nullptr); }
    | PAGE_INLINE PAGE_HTMLTRUNCATED page_number CLOSE_PAREN PAGE_COLON
                                            { $$ = cgp::wsspOperator(PAGE_HTMLTRUNCATED, $3, nullptr); }
    | PAGE_INLINE page_subst page_expression_list CLOSE_PAREN PAGE_COLON
                                            { $$ = cgp::wsspOperatorList($2, $3); }
    ;

page_subst
    : PAGE_HTMLSUBST                        { $$ = PAGE_HTMLSUBST; }
    | PAGE_HTMLSUBSTMAILBOX                 { $$ = PAGE_HTMLSUBSTMAILBOX; }
    | PAGE_HTMLSUBSTROUNDSIZE               { $$ = PAGE_HTMLSUBSTROUNDSIZE; }
    ;

page_statement
    : page_if PAGE_ENDIF PAGE_TAG_CLOSE     { $$ = cgp::wsspEndIf($1, nullptr); if (!$$) YYABORT; }
    | page_if PAGE_ELSE PAGE_TAG_CLOSE page_open PAGE_ENDIF PAGE_TAG_CLOSE
                                            { $$ = cgp::wsspEndIf($1, cgp::wsspPage($4)); if (!$$) YYABORT; }
    | page_loop_word PAGE_NAME PAGE_IN page_expression PAGE_TAG_CLOSE page_open
      PAGE_ENDFOR PAGE_NAME PAGE_TAG_CLOSE
                                            {
                                                $$ = cgp::wsspLoop($2, $4, cgp::wsspPage($6), nullptr, nullptr, $8);
                                                cgp::freeToken($2);
                                                cgp::freeToken($8);
                                                if (!$$) YYABORT;
                                            }
    | page_loop_word PAGE_NAME PAGE_IN page_expression PAGE_TAG_CLOSE page_open
      PAGE_EMPTYFOR PAGE_NAME PAGE_TAG_CLOSE page_open PAGE_ENDFOR PAGE_NAME PAGE_TAG_CLOSE
                                            {
                                                $$ = cgp::wsspLoop($2, $4, cgp::wsspPage($6), $8, cgp::wsspPage($10), $12);
                                                cgp::freeToken($2);
                                                cgp::freeToken($8);
                                                cgp::freeToken($12);
                                                if (!$$) YYABORT;
                                            }
    | PAGE_INCLUDE QUOTED_STRING PAGE_TAG_CLOSE
                                            { $$ = cgp::wsspInclude($2, nullptr); cgp::freeToken($2); if (!$$) YYABORT; }
    | PAGE_INCLUDE QUOTED_STRING OPEN_PAREN page_expression_list CLOSE_PAREN PAGE_TAG_CLOSE
                                            { $$ = cgp::wsspInclude($2, $4); cgp::freeToken($2); if (!$$) YYABORT; }
    | page_menu PAGE_TAG_CLOSE
                                            { $$ = $1; if (!$$) YYABORT; }
    ;

/* A conditional under way: the condition and page, then those of each ELIF. */
page_if
    : PAGE_IF                               { if (!cgp::wsspEnter()) YYABORT; }
      page_expression PAGE_TAG_CLOSE page_open
                                            { $$ = cgp::wsspConditional($3, cgp::wsspPage($5)); if (!$$) YYABORT; }
    | page_if PAGE_ELIF page_expression PAGE_TAG_CLOSE page_open
                                            { $$ = cgp::wsspElif($1, $3, cgp::wsspPage($5)); if (!$$) YYABORT; }
    ;

page_loop_word
    : PAGE_FOREACH                          { if (!cgp::wsspEnter()) YYABORT; $$ = PAGE_FOREACH; }
    | PAGE_FORALL                           { if (!cgp::wsspEnter()) YYABORT; $$ = PAGE_FORALL; }
    ;

page_menu
    : page_list_menu page_expression page_default PAGE_IN OPEN_PAREN page_numbers CLOSE_PAREN page_display
                                            { $$ = cgp::wsspMenu($1, $2, $6, $3, $8); }
    | page_expression_menu page_expression page_default PAGE_IN page_expression page_display
                                            { $$ = cgp::wsspMenu($1, $2, $5, $3, $6); }
    | PAGE_BOOLMENU page_expression page_default page_display
                                            { $$ = cgp::wsspMenu(PAGE_BOOLMENU, $2, nullptr, $3, $4); }
    | PAGE_MAILBOXMENU page_expression page_default PAGE_IN page_expression page_noinbox
                                            { $$ = cgp::wsspMenu(PAGE_MAILBOXMENU, $2, $5, $3, $6); }
    | PAGE_DAYTIMEMENU page_expression page_default page_period
                                            { $$ = cgp::wsspMenu(PAGE_DAYTIMEMENU, $2, $4, $3, nullptr); }
    | page_calendar_menu page_expression page_period
                                            { $$ = cgp::wsspMenu($1, $2, $3, nullptr, nullptr); }
    ;

page_list_menu
    : PAGE_NUMERICMENU                      { $$ = PAGE_NUMERICMENU; }
    | PAGE_TIMEMENU                         { $$ = PAGE_TIMEMENU; }
    | PAGE_SIZEMENU                         { $$ = PAGE_SIZEMENU; }
    ;

page_expression_menu
    : PAGE_ENUMMENU                         { $$ = PAGE_ENUMMENU; }
    | PAGE_STRINGMENU                       { $$ = PAGE_STRINGMENU; }
    ;

page_calendar_menu
    : PAGE_CALENDARTIMEMENU                 { $$ = PAGE_CALENDARTIMEMENU; }
    | PAGE_LOCALCALENDARTIMEMENU            { $$ = PAGE_LOCALCALENDARTIMEMENU; }
    ;

page_default
    : %empty                                { $$ = nullptr; }
    | PAGE_DEFAULT page_expression          { $$ = $2; }
    ;

page_display
    : %empty                                { $$ = nullptr; }
    | PAGE_DISPLAY page_expression          { $$ = $2; }
    ;

page_period
    : %empty                                { $$ = nullptr; }
    | PAGE_PERIOD page_number               { $$ = $2; }
    ;

page_noinbox
    : %empty                                { $$ = nullptr; }
    | PAGE_NOINBOX                          { $$ = cgp::wsspNoInbox(); }
    ;

page_numbers
    : page_number                           { $$ = cgp::wsspAppend(nullptr, $1); }
    | page_numbers COMMA page_number        { $$ = cgp::wsspAppend($1, $3); }
    ;

page_expression_list
    : page_expression                       { $$ = cgp::wsspAppendArgument(nullptr, $1); }
    | page_expression_list COMMA page_expression
                                            { $$ = cgp::wsspAppendArgument($1, $3); }
    ;

page_expression
    : page_operand
    | page_expression PAGE_AMP page_expression
                                            { $$ = cgp::wsspOperator(cgp::kWsspAnd, $1, $3); }
    | page_expression PAGE_BAR page_expression
                                            { $$ = cgp::wsspOperator(cgp::kWsspOr, $1, $3); }
    ;

page_operand
    : page_primary
    | page_member
    ;

page_member
    : page_operand PAGE_DOT page_key        { $$ = cgp::wsspOperator(cgp::kWsspMember, $1, $3); }
    ;

page_key
    : page_name
    | page_string
    ;

page_primary
    : page_name
    | page_string
    | page_element
    | OPEN_PAREN page_expression CLOSE_PAREN
                                            { $$ = $2; }
    | page_call
    ;

page_element
    : PAGE_NAME PAGE_OPEN_BRACKET PAGE_CLOSE_BRACKET
                                            { $$ = cgp::wsspLoopElement($1); cgp::freeToken($1); }
    ;

page_call
    : PAGE_SESSION page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(cgp::kWsspMember, cgp::wsspName("session"), $2); }
    | PAGE_SETTINGS page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(cgp::kWsspMember, cgp::wsspName("settings"), $2); }
    | PAGE_ACCOUNTSETTINGS page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(cgp::kWsspMember, cgp::wsspName("accountsettings"), $2); }
    | PAGE_INCLUDEARG page_number CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(PAGE_INCLUDEARG, $2, nullptr); }
    | page_unary page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator($1, $2, nullptr); }
    | page_nullary CLOSE_PAREN              { $$ = cgp::wsspOperator($1, nullptr, nullptr); }
    | PAGE_WEEKDAYS CLOSE_PAREN             { $$ = cgp::wsspOperator(PAGE_WEEKDAYS, nullptr, nullptr); }
    | PAGE_WEEKDAYS page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(PAGE_WEEKDAYS, $2, nullptr); }
    | page_equals page_expression PAGE_AND page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator($1, $2, $4); }
    | PAGE_ISINDEX page_expression PAGE_IN page_name CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(PAGE_ISINDEX, $2, $4); }
    | page_counter page_name CLOSE_PAREN    { $$ = cgp::wsspOperator($1, $2, nullptr); }
    | PAGE_TRANSLATE page_translated PAGE_USING page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(PAGE_TRANSLATE, $2, $4); }
    | PAGE_CONTAINS page_expression PAGE_IN page_expression CLOSE_PAREN
                                            { $$ = cgp::wsspOperator(PAGE_CONTAINS, $2, $4); }
    ;

/* What TRANSLATE( takes: a name, a function call, an element or a member. */
page_translated
    : page_name
    | page_element
    | page_call
    | page_member
    ;

page_unary
    : PAGE_EXISTS                           { $$ = PAGE_EXISTS; }
    | PAGE_DOESNOTEXIST                     { $$ = PAGE_DOESNOTEXIST; }
    | PAGE_NOT                              { $$ = PAGE_NOT; }
    | PAGE_CHECKED                          { $$ = PAGE_CHECKED; }
    | PAGE_HASPARENTMAILBOX                 { $$ = PAGE_HASPARENTMAILBOX; }
    | PAGE_ISSTRING                         { $$ = PAGE_ISSTRING; }
    | PAGE_ISARRAY                          { $$ = PAGE_ISARRAY; }
    | PAGE_ISDICTIONARY                     { $$ = PAGE_ISDICTIONARY; }
    | PAGE_ISDATE                           { $$ = PAGE_ISDATE; }
    | PAGE_ISDATA                           { $$ = PAGE_ISDATA; }
    | PAGE_STRING                           { $$ = PAGE_STRING; }
    | PAGE_DICTIONARY                       { $$ = PAGE_DICTIONARY; }
    | PAGE_ARRAY                            { $$ = PAGE_ARRAY; }
    | PAGE_RANDOMELEMENT                    { $$ = PAGE_RANDOMELEMENT; }
    ;

page_nullary
    : PAGE_NULL                             { $$ = PAGE_NULL; }
    | PAGE_EMPTYSTRING                      { $$ = PAGE_EMPTYSTRING; }
    | PAGE_EMPTYARRAY                       { $$ = PAGE_EMPTYARRAY; }
    | PAGE_EMPTYDICTIONARY                  { $$ = PAGE_EMPTYDICTIONARY; }
    | PAGE_MONTHNAMES                       { $$ = PAGE_MONTHNAMES; }
    | PAGE_KNOWNCHARSETS                    { $$ = PAGE_KNOWNCHARSETS; }
    | PAGE_KNOWNTIMEZONES                   { $$ = PAGE_KNOWNTIMEZONES; }
    ;

page_equals
    : PAGE_EQUALS                           { $$ = PAGE_EQUALS; }
    | PAGE_EQUALSNOCASE                     { $$ = PAGE_EQUALSNOCASE; }
    ;

page_counter
    : PAGE_ISFIRST                          { $$ = PAGE_ISFIRST; }
    | PAGE_ISEVEN                           { $$ = PAGE_ISEVEN; }
    ;

page_name
    : PAGE_NAME                             { $$ = cgp::wsspName($1); cgp::freeToken($1); }
    ;

page_string
    : QUOTED_STRING                         { $$ = cgp::wsspString($1); cgp::freeToken($1); }
    ;

page_number
    : PAGE_NUMBER                           { $$ = cgp::wsspNumber($1); cgp::freeToken($1); }
    ;

%%
