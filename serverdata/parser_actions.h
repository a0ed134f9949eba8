#pragma once
// Every action the grammar calls, for all three modes, declared in one
// place: the grammar includes only this header, so the parser depends on no
// store and no store on the parser's internals. Token texts arrive as
// NUL-terminated copies that the grammar gives back (freeToken) after the
// action; an action copies what it keeps. The caller of the parse holds the lock of the store
// an action fills.

namespace cgp {

// ---- common (scanner.l) ----
// Gives a token text back to the scanner; the grammar calls it for every
// text token once its action is done, and for those a failed parse drops.
void freeToken(char* text);

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

// ---- page mode ----

}  // namespace cgp
