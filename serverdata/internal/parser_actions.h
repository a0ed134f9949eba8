#pragma once
// Every action the grammar calls, for all three modes, declared in one
// place: the grammar includes only this header, so the parser depends on no
// store and no store on the parser's internals. Token texts arrive as
// NUL-terminated copies, or in data mode also in the scanner's buffer, that
// the grammar gives back (freeToken) after the action; an action copies what
// it keeps. The caller of the parse holds the lock of the store an action
// fills.

#include <cstddef>
#include <string>

namespace cgp {

// ---- common (scanner.l) ----
// Gives a token text back to the scanner; the grammar calls it for every
// text token once its action is done, and for those a failed parse drops.
void freeToken(char* text);
// The length of a token text. A data-mode text may be handed on in the
// scanner's buffer, not ended by a NUL byte; it is valid until freeToken.
std::size_t tokenLength(const char* text);

// ---- data mode (dataset_text.cpp) ----
// The values live on the value stack; each action returns the index of the
// value it built or changed.
int dsNewString(const char* text);                            // text through cgpUnescape
int dsAppendText(int index, const char* text);                // the same, appended
int dsNewArray();
int dsNewArrayWith(int valueIndex);
int dsArrayAppend(int arrayIndex, int valueIndex);
int dsNewDictionary();
int dsNewDictionaryWith(int keyIndex, int valueIndex);
int dsDictionarySet(int dictionaryIndex, int keyIndex, int valueIndex);  // a repeated key replaces
int dsNewData(const char* text);                              // base64 between the brackets
void dsSetResult(int listIndex);                              // the text's top-level list

// ---- router mode (router.cpp) ----
// Entries and routes are the caller's to own. During the router's own load
// they fill the tables it builds; a router-mode parse started by anyone else
// checks the syntax only, its routes are dropped. Outside a parse,
// addRouterEntry appends to the live tables.
struct RouterEntry;
struct Route;
// Lower-cased; a bracketed text without "@" gets "@" and the default
// domain; the first "*" not preceded by a backslash splits it.
RouterEntry* makeAddressEntry(const char* text, bool bracketed);
// Takes both; a null target stands for the main domain.
Route* makeRoute(RouterEntry* pattern, RouterEntry* target);
// Takes the route: the address table for a bracketed pattern, else the
// domain table.
void addRouterEntry(Route* route);
void freeRouterEntry(RouterEntry* entry);
void freeRoute(Route* route);

// ---- page mode (wssp_load.cpp) ----
// The builders of page nodes. Every node made during a load is known to the
// loader, which frees what a failed parse leaves; the grammar frees none.
// A builder returning null, or wsspEnter false, has reported the failure (a
// page nested too deeply, loop names that differ) and the parse ends.
class WsspNode;

// Operator codes that belong to no token.
const int kWsspMember = 323;  // ".", SESSION( and its kin
const int kWsspAnd = 324;     // "&"
const int kWsspOr = 325;      // "|"

WsspNode* wsspText(std::string* text);                   // page text; takes the string
WsspNode* wsspString(const char* text);                  // a quoted string, through cgpUnescape
WsspNode* wsspName(const char* name);                    // lowered already by the scanner
WsspNode* wsspNumber(const char* digits);
WsspNode* wsspLoopElement(const char* name);             // name "[]"
WsspNode* wsspNoInbox();                                 // the text "NOINBOX"
WsspNode* wsspOperator(int code, WsspNode* first, WsspNode* second);  // either may be null
WsspNode* wsspOperatorList(int code, WsspNode* list);    // holds the list's items
WsspNode* wsspAppend(WsspNode* sequence, WsspNode* item);  // null makes a sequence; text joins text
WsspNode* wsspAppendArgument(WsspNode* list, WsspNode* item);  // the same, but every argument stays its own
WsspNode* wsspPage(WsspNode* items);                     // items or null: the page's two levels
WsspNode* wsspInline(WsspNode* format, WsspNode* expression);
void wsspBegin();                                        // a page starts: no statement is open
bool wsspEnter();                                        // an IF, FOREACH or FORALL opens
// A conditional is built as its parts come: [condition, page], each ELIF's
// pair, then the else page or an empty node, which closes the statement.
WsspNode* wsspConditional(WsspNode* condition, WsspNode* page);
WsspNode* wsspElif(WsspNode* conditional, WsspNode* condition, WsspNode* page);
WsspNode* wsspEndIf(WsspNode* conditional, WsspNode* elsePage);  // elsePage may be null
WsspNode* wsspLoop(const char* name, WsspNode* collection, WsspNode* body, const char* emptyName,
                   WsspNode* emptyBody, const char* endName);  // closes the statement
WsspNode* wsspInclude(const char* file, WsspNode* arguments);  // arguments: a list or null
WsspNode* wsspMenu(int code, WsspNode* variable, WsspNode* list, WsspNode* defaultValue, WsspNode* display);
bool wsspSetResult(WsspNode* page);                      // the page's root

}  // namespace cgp
